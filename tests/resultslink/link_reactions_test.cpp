// The main window's reactions to the direct connection: button pictures, sounds, log texts,
// the lost-connection alert and balloon, timers, the detector list and the version refusal.
#include "resultslink/link_reactions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/resource_mutex.h"
#include "foundation/sound.h"
#include "resources/messages_resultslink.h"
#include "resultslink/link_protocol.h"
#include "resultslink/results_link.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

class LinkReactionsTest : public ::testing::Test {
 protected:
  LinkReactionsTest()
      : m_log(m_events),
        m_summaryLock("Summary", m_dir.path()),
        m_link(m_events, m_log),
        m_protocol(m_link, m_log, m_summaryLock, {}),
        m_reactions(m_link, m_protocol, m_log) {
    m_log.SetPostingEnabled(true);
  }

  std::vector<std::string> Logged() {
    std::vector<std::string> texts;
    m_events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        texts.push_back(line->text);
      }
    });
    return texts;
  }

  testing::TempDir m_dir;
  EventQueue m_events;
  Logger m_log;
  CResourceMutex m_summaryLock;
  CResultsLink m_link;
  CLinkProtocol m_protocol;
  CLinkReactions m_reactions;
};

using Texts = std::vector<std::string>;
using Ints = std::vector<int>;

TEST_F(LinkReactionsTest, ConnectingAndConnected) {
  LinkReaction connecting = m_reactions.OnLinkState(kLinkConnecting);
  EXPECT_EQ(connecting.image, LinkImage::kConnecting);
  EXPECT_TRUE(connecting.sounds.empty());

  LinkReaction connected = m_reactions.OnLinkState(kLinkConnected);
  EXPECT_EQ(connected.image, LinkImage::kConnected);
  EXPECT_EQ(connected.sounds, (Ints{kSoundConnected}));
  ASSERT_EQ(connected.startTimers.size(), 1u);
  EXPECT_EQ(connected.startTimers[0].id, 34146);
  EXPECT_EQ(connected.startTimers[0].periodMs, 300);
  EXPECT_TRUE(connected.startTimers[0].oneShot);
  EXPECT_EQ(Logged(), (Texts{Tr(kMsgLinkConnected)}));
}

TEST_F(LinkReactionsTest, FailedAttemptOnlyChangesThePicture) {
  m_reactions.OnDirectButton(true, "127.0.0.1", 0, 10);  // bad port: nothing starts
  m_protocol.DecodeLinkReply("NFO:7 D1");
  Logged();
  m_reactions.OnLinkState(kLinkConnecting);
  LinkReaction failed = m_reactions.OnLinkState(kLinkNotConnected);
  EXPECT_EQ(failed.image, LinkImage::kNotConnected);
  EXPECT_EQ(failed.stopTimers, (Ints{34146}));
  EXPECT_FALSE(failed.releaseButton);
  EXPECT_TRUE(failed.sounds.empty());
  EXPECT_FALSE(failed.balloon);
  EXPECT_TRUE(m_protocol.DetectorList().empty());
  EXPECT_TRUE(Logged().empty());
}

TEST_F(LinkReactionsTest, LostConnectionAlertsAndReleasesTheButton) {
  // A closed port: the link thread tries; the reactions only care about the states.
  LinkReaction pressed = m_reactions.OnDirectButton(true, "127.0.0.1", 1, 60);
  EXPECT_EQ(pressed.image, LinkImage::kConnected);
  EXPECT_FALSE(pressed.releaseButton);
  EXPECT_TRUE(m_reactions.IsButtonPressed());
  m_reactions.OnLinkState(kLinkConnecting);
  m_reactions.OnLinkState(kLinkConnected);
  m_protocol.DecodeLinkReply("NFO:7 D1\\D2");
  Logged();

  LinkReaction lost = m_reactions.OnLinkState(kLinkNotConnected);
  EXPECT_EQ(lost.stopTimers, (Ints{34146}));
  EXPECT_EQ(lost.image, LinkImage::kNotConnected);
  EXPECT_TRUE(lost.releaseButton);
  EXPECT_EQ(lost.sounds, (Ints{kSoundLinkLost, kSoundWarning}));
  ASSERT_TRUE(lost.balloon);
  EXPECT_EQ(lost.balloon->title, "Attention");
  EXPECT_EQ(lost.balloon->text, Tr(kMsgLinkLost));
  EXPECT_EQ(lost.balloon->icon, 131);
  EXPECT_EQ(lost.balloon->durationMs, 4000);
  EXPECT_TRUE(lost.messageBox.empty());
  EXPECT_FALSE(m_reactions.IsButtonPressed());
  EXPECT_TRUE(m_protocol.DetectorList().empty());
  EXPECT_EQ(Logged(), (Texts{"######## " + Tr(kMsgLinkLost)}));
  m_reactions.OnDirectButton(false, "", 0, 0);
}

// With catch-up the link makes a lost connection again: the alert comes once per loss, the
// button stays pressed and shows "connecting" through the failed attempts until connected.
TEST_F(LinkReactionsTest, ALostConnectionMadeAgainKeepsTheButtonPressed) {
  m_reactions.OnDirectButton(true, "127.0.0.1", 1, 60);
  m_reactions.OnLinkState(kLinkConnecting);
  m_reactions.OnLinkState(kLinkConnected);
  m_protocol.DecodeLinkReply("NFO:7 D1");
  Logged();

  LinkReaction lost = m_reactions.OnLinkState(kLinkLostRetrying);
  EXPECT_EQ(lost.image, LinkImage::kConnecting);
  EXPECT_FALSE(lost.releaseButton);
  EXPECT_EQ(lost.stopTimers, (Ints{34146}));
  EXPECT_EQ(lost.sounds, (Ints{kSoundLinkLost, kSoundWarning}));
  ASSERT_TRUE(lost.balloon);
  EXPECT_EQ(lost.balloon->text, Tr(kMsgLinkLost));
  EXPECT_TRUE(m_reactions.IsButtonPressed());
  EXPECT_TRUE(m_protocol.DetectorList().empty());
  EXPECT_EQ(Logged(), (Texts{"######## " + Tr(kMsgLinkLost)}));

  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(m_reactions.OnLinkState(kLinkConnecting).image, LinkImage::kConnecting);
    LinkReaction failed = m_reactions.OnLinkState(kLinkNotConnected);
    EXPECT_EQ(failed.image, LinkImage::kConnecting);
    EXPECT_TRUE(failed.sounds.empty());
    EXPECT_FALSE(failed.balloon);
    EXPECT_FALSE(failed.releaseButton);
  }
  m_reactions.OnLinkState(kLinkConnecting);
  EXPECT_EQ(m_reactions.OnLinkState(kLinkConnected).image, LinkImage::kConnected);
  EXPECT_EQ(Logged(), (Texts{Tr(kMsgLinkConnected)}));

  // Lost again, then released by the operator while the link tries: a failed attempt still
  // reported afterwards shows "not connected", and the retrying is over for good.
  m_reactions.OnLinkState(kLinkLostRetrying);
  m_reactions.OnLinkState(kLinkConnecting);
  EXPECT_EQ(m_reactions.OnDirectButton(false, "", 0, 0).image, LinkImage::kNotConnected);
  EXPECT_EQ(m_reactions.OnLinkState(kLinkNotConnected).image, LinkImage::kNotConnected);
  EXPECT_FALSE(m_link.IsRunning());
  // A loss reported after the release is the operator's disconnection, not an alert.
  Logged();
  m_reactions.OnLinkState(kLinkConnected);
  LinkReaction ended = m_reactions.OnLinkState(kLinkLostRetrying);
  EXPECT_EQ(ended.image, LinkImage::kNotConnected);
  EXPECT_EQ(ended.sounds, (Ints{kSoundDone}));
  EXPECT_FALSE(ended.balloon);
  EXPECT_EQ(Logged(), (Texts{Tr(kMsgLinkConnected), Tr(kMsgLinkDisconnected)}));
}

TEST_F(LinkReactionsTest, OperatorDisconnectionIsNotAnAlert) {
  m_reactions.OnDirectButton(true, "127.0.0.1", 1, 60);
  m_reactions.OnLinkState(kLinkConnecting);
  m_reactions.OnLinkState(kLinkConnected);
  LinkReaction released = m_reactions.OnDirectButton(false, "", 0, 0);
  EXPECT_EQ(released.image, LinkImage::kNotConnected);
  EXPECT_FALSE(m_link.IsRunning());
  Logged();
  LinkReaction ended = m_reactions.OnLinkState(kLinkNotConnected);
  EXPECT_EQ(ended.image, LinkImage::kNotConnected);
  EXPECT_FALSE(ended.releaseButton);
  EXPECT_EQ(ended.sounds, (Ints{kSoundDone}));
  EXPECT_FALSE(ended.balloon);
  EXPECT_EQ(Logged(), (Texts{Tr(kMsgLinkDisconnected)}));
}

TEST_F(LinkReactionsTest, BadPortReleasesTheButtonAtOnce) {
  LinkReaction pressed = m_reactions.OnDirectButton(true, "localhost", 0, 10);
  EXPECT_EQ(pressed.image, LinkImage::kNotConnected);
  EXPECT_TRUE(pressed.releaseButton);
  EXPECT_FALSE(m_reactions.IsButtonPressed());
  EXPECT_FALSE(m_link.IsRunning());
  EXPECT_EQ(Logged(), (Texts{StrF(Tr(kMsgLinkBadPort).c_str(), 0)}));
  EXPECT_TRUE(m_reactions.OnDirectButton(true, "localhost", 70000, 10).releaseButton);
}

TEST_F(LinkReactionsTest, RefusalStopsTheLinkAndShowsTheMessage) {
  m_reactions.OnDirectButton(true, "127.0.0.1", 1, 60);
  m_reactions.OnLinkState(kLinkConnecting);
  m_reactions.OnLinkState(kLinkConnected);
  LinkReaction refused = m_reactions.OnTimer(8583);
  EXPECT_EQ(refused.stopTimers, (Ints{8583}));
  EXPECT_TRUE(refused.releaseButton);
  EXPECT_EQ(refused.messageBox, Tr(kMsgLinkVersionRefused));
  EXPECT_FALSE(m_link.IsRunning());
  Logged();
  // The end of the connection that follows is an ordinary disconnection.
  LinkReaction ended = m_reactions.OnLinkState(kLinkNotConnected);
  EXPECT_EQ(ended.sounds, (Ints{kSoundDone}));
  EXPECT_EQ(Logged(), (Texts{Tr(kMsgLinkDisconnected)}));
}

TEST_F(LinkReactionsTest, TimersBelongingToTheLink) {
  EXPECT_TRUE(CLinkReactions::IsLinkTimer(34146));
  EXPECT_TRUE(CLinkReactions::IsLinkTimer(34137));
  EXPECT_TRUE(CLinkReactions::IsLinkTimer(8583));
  EXPECT_FALSE(CLinkReactions::IsLinkTimer(33861));
  // Not connected: the initial requests and the ping send nothing and change nothing.
  EXPECT_EQ(m_reactions.OnTimer(34146).stopTimers, (Ints{34146}));
  EXPECT_TRUE(m_reactions.OnTimer(34137).stopTimers.empty());
  EXPECT_FALSE(m_reactions.OnTimer(12345).releaseButton);
}

}  // namespace
}  // namespace lapora
