#pragma once

#include <sys/resource.h>
#include <unistd.h>

// While alive, the process can open no more files (EMFILE), as when it has
// run out of descriptors.
class NoFreeDescriptors
{
public:
    NoFreeDescriptors()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_old);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit tight = m_old;
        tight.rlim_cur = rlim_t(lowestFree);
        m_set = lowestFree >= 0 && ::setrlimit(RLIMIT_NOFILE, &tight) == 0;
    }
    ~NoFreeDescriptors() { ::setrlimit(RLIMIT_NOFILE, &m_old); }
    NoFreeDescriptors(const NoFreeDescriptors &) = delete;
    NoFreeDescriptors &operator=(const NoFreeDescriptors &) = delete;
    bool isSet() const { return m_set; }

private:
    rlimit m_old = {};
    bool m_set = false;
};
