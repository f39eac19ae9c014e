// The user information of a site address ("user:pw@" before the host): it serves the requests to
// that host, but no file, message or profile the program writes ever shows it.
#pragma once

#include <string>
#include <string_view>

namespace tollwick {

// The address with its user information removed; other texts come back unchanged.
std::string WithoutUserInfo(std::string_view url);

// Whether the address carries a password ("user:pw@host").
bool HasPasswordInAddress(std::string_view url);

// Why url cannot be crawled, as one line for the user; empty when it can. Only http and https
// addresses with a host name (or an IP address) and a port from 1 to 65535 are crawled.
std::string SiteAddressProblem(std::string_view url);

}  // namespace tollwick
