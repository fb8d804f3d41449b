#include "resultslink/link_reactions.h"

#include "foundation/log.h"
#include "foundation/sound.h"
#include "resources/messages_resultslink.h"
#include "resultslink/link_protocol.h"
#include "resultslink/results_link.h"

namespace lapora {

CLinkReactions::CLinkReactions(CResultsLink& link, CLinkProtocol& protocol, Logger& log)
    : m_link(link), m_protocol(protocol), m_log(log) {}

LinkReaction CLinkReactions::OnDirectButton(bool pressed, const std::string& host, int port,
                                            int retrySeconds, int stallSeconds) {
  LinkReaction reaction;
  m_buttonPressed = pressed;
  if (pressed) {
    reaction.image = LinkImage::kConnected;
    if (!m_link.StartLink(host, port, retrySeconds, stallSeconds) && !m_link.IsRunning()) {
      // Nothing runs (the port was refused): the button must not pretend otherwise.
      m_buttonPressed = false;
      reaction.image = LinkImage::kNotConnected;
      reaction.releaseButton = true;
    }
  } else {
    m_retrying = false;
    reaction.image = LinkImage::kNotConnected;
    m_link.StopLink();
  }
  return reaction;
}

LinkReaction CLinkReactions::OnLinkState(int state) {
  LinkReaction reaction;
  const int previous = m_lastState;
  m_lastState = state;
  switch (state) {
    case kLinkConnecting:
      reaction.image = LinkImage::kConnecting;
      break;
    case kLinkConnected:
      m_retrying = false;
      m_log.PostLog(80, Tr(kMsgLinkConnected));
      reaction.image = LinkImage::kConnected;
      reaction.sounds.push_back(kSoundConnected);
      reaction.startTimers.push_back(
          {CLinkProtocol::kTimerInitialRequests, CLinkProtocol::kInitialRequestsDelayMs, true});
      break;
    case kLinkNotConnected:
    case kLinkLostRetrying:
      reaction.stopTimers.push_back(CLinkProtocol::kTimerInitialRequests);
      reaction.image = LinkImage::kNotConnected;
      m_protocol.ClearDetectorList();
      if (state == kLinkNotConnected && previous != kLinkConnected) {
        // An attempt failed; the link thread goes on trying (or was stopped). While it makes
        // a lost connection again the button keeps showing that.
        if (m_retrying && m_buttonPressed) {
          reaction.image = LinkImage::kConnecting;
        }
        break;
      }
      if (m_buttonPressed) {
        // Not the operator's doing: the connection was lost. Made again by the link every
        // retry interval (the button stays pressed), or not at all (it is released).
        if (state == kLinkLostRetrying) {
          m_retrying = true;
          reaction.image = LinkImage::kConnecting;
        } else {
          m_buttonPressed = false;
          reaction.releaseButton = true;
        }
        reaction.sounds.push_back(kSoundLinkLost);
        const std::string text = Tr(kMsgLinkLost);
        m_log.PostAlert(text, false);
        reaction.balloon = LinkBalloon{"Attention", text};
        reaction.sounds.push_back(kSoundWarning);
      } else {
        reaction.sounds.push_back(kSoundDone);
        m_log.PostLog(80, Tr(kMsgLinkDisconnected));
      }
      break;
    default:
      break;
  }
  return reaction;
}

std::string CLinkReactions::DirectTooltip(bool catchUp, std::size_t toSend) {
  if (!catchUp) {
    return {};
  }
  if (toSend == 0) {
    return Tr(kMsgNoDetectionToSend);
  }
  return StrF(Tr(kMsgDetectionsToSend).c_str(), static_cast<int>(toSend), toSend > 1 ? "s" : "");
}

bool CLinkReactions::IsLinkTimer(int id) {
  return id == CLinkProtocol::kTimerInitialRequests || id == CLinkProtocol::kTimerPing ||
         id == CLinkProtocol::kTimerRefusal;
}

LinkReaction CLinkReactions::OnTimer(int id) {
  LinkReaction reaction;
  switch (id) {
    case CLinkProtocol::kTimerInitialRequests:
      reaction.stopTimers.push_back(id);
      m_protocol.SendInitialRequests();
      break;
    case CLinkProtocol::kTimerPing:
      m_protocol.SendPing();
      break;
    case CLinkProtocol::kTimerRefusal:
      // The link thread then reports the end of the connection, logged as a disconnection.
      reaction.stopTimers.push_back(id);
      m_buttonPressed = false;
      m_link.StopLink();
      reaction.releaseButton = true;
      reaction.messageBox = Tr(kMsgLinkVersionRefused);
      break;
    default:
      break;
  }
  return reaction;
}

}  // namespace lapora
