// Proxies here are the environment's business (http_proxy, https_proxy,
// no_proxy), which libcurl reads itself.
#include "Http.h"

namespace platform {

ProxySettings SystemProxy() {
    return {};
}

} // namespace platform
