#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "support/error.h"
#include "support/http_client.h"

namespace morvane {
namespace {

constexpr std::size_t kMaxBodyBytes = 16u << 20;

std::atomic<const HttpClient*> g_test_client{nullptr};

struct Transfer {
  std::string body;
  bool too_large = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->body.size() + n > kMaxBodyBytes) {
    t->too_large = true;
    return 0;  // makes curl end the transfer with a write error
  }
  t->body.append(data, n);
  return n;
}

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

}  // namespace

HttpResponse CurlHttpClient::Get(const std::string& url) const {
  GlobalInitOnce();
  std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) {
    throw EInOutError("HTTP client could not be made");
  }
  Transfer transfer;
  char error[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
  // Request threads must not receive signals from name resolution.
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  const CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    std::string message = "Download of " + url + " failed: ";
    message +=
        transfer.too_large ? "answer too large" : (error[0] ? error : curl_easy_strerror(rc));
    throw EInOutError(message);
  }
  HttpResponse response;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
  response.body = std::move(transfer.body);
  return response;
}

const HttpClient& ProcessHttpClient() {
  if (const HttpClient* c = g_test_client.load(std::memory_order_acquire)) {
    return *c;
  }
  static const CurlHttpClient client;
  return client;
}

void SetHttpClientForTesting(const HttpClient* client) {
  g_test_client.store(client, std::memory_order_release);
}

}  // namespace morvane
