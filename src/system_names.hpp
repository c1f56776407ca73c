// What the directory walk asks of each platform's name rules.
#ifndef WEXAL_U8PORT_SRC_SYSTEM_NAMES_HPP
#define WEXAL_U8PORT_SRC_SYSTEM_NAMES_HPP

#include <string>
#include <string_view>

namespace wexal {
namespace u8port {
namespace detail {

// folder and name joined by the platform's separator (none after one that
// ends the folder, nor after a Windows drive); an empty folder gives name.
std::string join_name(std::string_view folder, std::string_view name);

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_SYSTEM_NAMES_HPP
