#include "foundation/pop_front.h"

#include "foundation/events.h"

namespace lapora {

bool PopFrontListener::Start(const std::string& lockFolder, std::string* errorText) {
  // Runs on the server's thread: only posts, so a busy window never delays the answer.
  auto answer = [this](const std::string& request) -> std::string {
    if (request != kRequest) {
      return "unknown request";
    }
    m_events.Post(PopFrontEvent{});
    return kAnswer;
  };
  return m_server.Start(lockFolder + "/" + kSocketName, answer, errorText);
}

PopFrontResult RequestPopFront(const std::string& lockFolder, std::string* errorText,
                               std::chrono::milliseconds timeout) {
  std::string reply;
  switch (SendLocalRequest(lockFolder + "/" + PopFrontListener::kSocketName,
                           PopFrontListener::kRequest, timeout, &reply, errorText)) {
    case LocalRequestResult::kAnswered:
      if (reply == PopFrontListener::kAnswer) {
        return PopFrontResult::kBroughtToFront;
      }
      if (errorText != nullptr) {
        *errorText = "unexpected answer \"" + reply + "\"";
      }
      return PopFrontResult::kFailed;
    case LocalRequestResult::kNoServer:
      return PopFrontResult::kNoInstance;
    case LocalRequestResult::kFailed:
      break;
  }
  return PopFrontResult::kFailed;
}

}  // namespace lapora
