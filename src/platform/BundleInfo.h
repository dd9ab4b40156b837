#pragma once

#include <QString>
#include <optional>

// The version texts the program was built with, as main() registers them on
// the application object: the marketing version and the build number.
// Nothing when they are not set (for example in a test process).
namespace BundleInfo {
std::optional<QString> shortVersionString();
std::optional<QString> bundleVersion();
} // namespace BundleInfo
