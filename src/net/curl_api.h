#pragma once

#include <curl/curl.h>

namespace zandrel::net {

// The libcurl functions the transfer component uses. libcurl is loaded the first time a
// transfer starts rather than with the program: it brings some twenty libraries of its own
// (TLS, LDAP, Kerberos...), and loading them at start-up would make every start wait for them.
struct CurlApi {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
    decltype(&curl_getdate) getdate;
    decltype(&curl_multi_init) multi_init;
    decltype(&curl_multi_add_handle) multi_add_handle;
    decltype(&curl_multi_remove_handle) multi_remove_handle;
    decltype(&curl_multi_perform) multi_perform;
    decltype(&curl_multi_poll) multi_poll;
    decltype(&curl_multi_info_read) multi_info_read;
    decltype(&curl_multi_cleanup) multi_cleanup;
    decltype(&curl_multi_strerror) multi_strerror;
};

// Loads libcurl and initialises it once; raises Error when the library cannot be loaded.
const CurlApi& curlApi();

}  // namespace zandrel::net
