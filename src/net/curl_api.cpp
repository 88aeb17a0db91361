#include "net/curl_api.h"

#include "base/platform.h"

namespace zandrel::net {

namespace {

CurlApi load() {
    // Made once: a failed load throws and is tried again next time.
    static const platform::LoadedLibrary lib(
        platform::kCurlLibrary, QStringLiteral("The HTTP library"), QStringLiteral("Inet"));
    CurlApi api;
#define ZANDREL_CURL(member, name) api.member = lib.function<decltype(api.member)>(name)
    ZANDREL_CURL(global_init, "curl_global_init");
    ZANDREL_CURL(easy_init, "curl_easy_init");
    ZANDREL_CURL(easy_setopt, "curl_easy_setopt");
    ZANDREL_CURL(easy_getinfo, "curl_easy_getinfo");
    ZANDREL_CURL(easy_cleanup, "curl_easy_cleanup");
    ZANDREL_CURL(easy_strerror, "curl_easy_strerror");
    ZANDREL_CURL(slist_append, "curl_slist_append");
    ZANDREL_CURL(slist_free_all, "curl_slist_free_all");
    ZANDREL_CURL(getdate, "curl_getdate");
    ZANDREL_CURL(multi_init, "curl_multi_init");
    ZANDREL_CURL(multi_add_handle, "curl_multi_add_handle");
    ZANDREL_CURL(multi_remove_handle, "curl_multi_remove_handle");
    ZANDREL_CURL(multi_perform, "curl_multi_perform");
    ZANDREL_CURL(multi_poll, "curl_multi_poll");
    ZANDREL_CURL(multi_info_read, "curl_multi_info_read");
    ZANDREL_CURL(multi_cleanup, "curl_multi_cleanup");
    ZANDREL_CURL(multi_strerror, "curl_multi_strerror");
#undef ZANDREL_CURL
    api.global_init(CURL_GLOBAL_DEFAULT);
    return api;
}

}  // namespace

const CurlApi& curlApi() {
    static const CurlApi api = load();  // a failed load throws and is tried again next time
    return api;
}

}  // namespace zandrel::net
