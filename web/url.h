// Cutting an address into host, port and path by plain text search; never fails.
#pragma once

#include <string>
#include <string_view>

namespace zerano {

// Host with A-Z lowered; an address without a scheme counts as http.
std::string url_host(std::string_view url, bool keep_port = false);
// The number after the host's last ":", else 443 for https and 80 otherwise.
int url_port(std::string_view url);
// From the first "/" after the host to the end, in the address's own letter case; "/" if none.
std::string url_path(std::string_view url);

}  // namespace zerano
