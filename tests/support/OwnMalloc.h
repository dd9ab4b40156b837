#pragma once

// VORNA_OWN_MALLOC is 1 where the C library's allocator serves the program,
// 0 under AddressSanitizer: there the sanitizer's allocator takes its place
// and holds freed memory in quarantine, so the library's settings, its
// counters and resident memory say nothing of what the program keeps.
#if defined(__SANITIZE_ADDRESS__)
#define VORNA_OWN_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORNA_OWN_MALLOC 0
#endif
#endif
#ifndef VORNA_OWN_MALLOC
#define VORNA_OWN_MALLOC 1
#endif
