#include "admin_handler.h"

#include <utility>

#include "answer.h"
#include "response_head.h"

namespace morvane::host {

void AdminHandler::Add(std::string path, Route route, bool needs_turn) {
  routes_.push_back({std::move(path), std::move(route), needs_turn});
}

const AdminHandler::Entry* AdminHandler::Find(std::string_view path) const {
  for (const Entry& e : routes_) {
    if (e.path == path) return &e;
  }
  return nullptr;
}

bool AdminHandler::NeedsTurn(const HttpRequest& request) const {
  const Entry* e = Find(request.path);
  return e != nullptr && e->needs_turn && (request.method == "GET" || request.IsHead());
}

void AdminHandler::Handle(const HttpRequest& request, Answer& answer) {
  const Entry* e = Find(request.path);
  if (e == nullptr) {
    SendPage(answer, 404, "Not Found", "text/plain; charset=utf-8", "Not found.\n");
  } else if (request.method != "GET" && !request.IsHead()) {
    ResponseHead head;
    head.status = 405;
    head.reason = "Method Not Allowed";
    head.Add("Allow", "GET, HEAD");
    head.Add("Content-Type", "text/plain; charset=utf-8");
    constexpr std::string_view kBody = "Only GET and HEAD are served here.\n";
    head.SetContentLength(kBody.size());
    answer.Begin(std::move(head));
    answer.Write(kBody.data(), kBody.size());
  } else {
    e->route(request, answer);
  }
  if (!answer.Ended()) answer.End(true);
}

void AdminHandler::SendPage(Answer& answer, int status, std::string_view reason,
                            std::string_view content_type, std::string_view body) {
  ResponseHead head;
  head.status = status;
  head.reason = std::string(reason);
  head.Add("Content-Type", content_type);
  head.SetContentLength(body.size());
  // Monitoring answers are of the moment: no cache may keep them.
  head.Add("Cache-Control", "no-store");
  answer.Begin(std::move(head));
  answer.Write(body.data(), body.size());
  answer.End(true);
}

}  // namespace morvane::host
