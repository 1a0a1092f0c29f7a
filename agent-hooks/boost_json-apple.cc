// Boost.JSON compiled into the installer from its headers: macOS ships no
// Boost, and the installer, shipped in the app bundle, may load nothing
// outside the system's own libraries.

#include <boost/json/src.hpp>
