// The version of wexal these headers belong to. The build checks it against
// the version in CMakeLists.txt.
#ifndef WEXAL_VERSION_HPP
#define WEXAL_VERSION_HPP

#define WEXAL_VERSION_MAJOR 0
#define WEXAL_VERSION_MINOR 1
#define WEXAL_VERSION_PATCH 0
#define WEXAL_VERSION_STRING "0.1.0"

#endif  // WEXAL_VERSION_HPP
