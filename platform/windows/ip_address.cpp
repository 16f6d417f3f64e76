// IP literals read by Windows' own address parser.
#include "platform/url.hpp"
#include "platform/windows/win32.hpp"

#include <array>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace orvanta {

std::vector<unsigned char> ipAddressBytes(std::string_view host) {
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const std::wstring text =
        widen(std::string(bracketed ? host.substr(1, host.size() - 2) : host));
    std::array<unsigned char, 16> bytes{};
    const int family = bracketed ? AF_INET6 : AF_INET;
    if (text.empty() || InetPtonW(family, text.c_str(), bytes.data()) != 1) {
        return {};
    }
    return {bytes.begin(), bytes.begin() + (bracketed ? 16 : 4)};
}

} // namespace orvanta
