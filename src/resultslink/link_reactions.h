// What the main window does about the direct connection: the toggle button and its three
// pictures, the sounds, the log texts, the lost-connection alert and balloon, the timers of
// the protocol and the refusal of a too old results software. CLinkReactions decides; the
// caller applies the returned LinkReaction to its front end. Main thread only.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace lapora {

class CLinkProtocol;
class CResultsLink;
class Logger;

// The pictures of the "Direct Dorix-Pro connection" toggle button (embedded image numbers).
enum class LinkImage : int {
  kUnchanged = 0,
  kConnected = 134,
  kNotConnected = 135,
  kConnecting = 145,
};

// A warning balloon pointing into the toggle button.
struct LinkBalloon {
  std::string title;  // "Attention"
  std::string text;
  int icon = 131;  // the warning icon
  int durationMs = 4000;
  double xFraction = 2.0 / 3.0;  // of the button's width
  double yFraction = 0.5;        // of the button's height
};

struct LinkTimerStart {
  int id = 0;
  int periodMs = 0;
  bool oneShot = true;
};

// What the front end must do, in this order: stop the timers, show the picture, release the
// button, start the timers, play the sounds (the balloon's sound last, with the balloon), show
// the message box (exclamation icon). Log texts are already posted.
struct LinkReaction {
  std::vector<int> stopTimers;
  LinkImage image = LinkImage::kUnchanged;
  bool releaseButton = false;
  std::vector<LinkTimerStart> startTimers;
  std::vector<int> sounds;
  std::optional<LinkBalloon> balloon;
  std::string messageBox;  // empty: none
};

class CLinkReactions {
 public:
  // Every reference must outlive the reactions.
  CLinkReactions(CResultsLink& link, CLinkProtocol& protocol, Logger& log);

  // The operator pressed (pressed true) or released the toggle button: the picture changes at
  // once and the link starts (with these settings; stallSeconds: GLinkStallSeconds) or stops.
  // A start that cannot happen (bad port) releases the button again.
  LinkReaction OnDirectButton(bool pressed, const std::string& host, int port, int retrySeconds,
                              int stallSeconds = 30);
  // Each LinkStateEvent, in posting order. A lost connection that the link makes again
  // (kLinkLostRetrying) raises the alert but keeps the button pressed, under the connecting
  // picture until connected again.
  LinkReaction OnLinkState(int state);
  // The protocol's timers: initial requests, keep-alive and refusal. Other ids: nothing.
  static bool IsLinkTimer(int id);
  LinkReaction OnTimer(int id);

  // Whether the toggle button is down, as these reactions left it.
  bool IsButtonPressed() const { return m_buttonPressed; }

  // The toggle button's tooltip: with catch-up, how many detections the results software still
  // has to get ("No detection to send" for none); without, none (empty).
  static std::string DirectTooltip(bool catchUp, std::size_t toSend);

 private:
  CResultsLink& m_link;
  CLinkProtocol& m_protocol;
  Logger& m_log;
  bool m_buttonPressed = false;
  bool m_retrying = false;  // a lost connection is being made again
  // The state before the one being handled: a "not connected" after "connected" is the end of
  // a connection, after "connecting" a failed attempt (the flags may have moved on meanwhile).
  int m_lastState = 0;
};

}  // namespace lapora
