// Boost.JSON compiled into the hook from its headers: macOS ships no Boost,
// and the hook may load nothing outside the system's own libraries.

#include <boost/json/src.hpp>
