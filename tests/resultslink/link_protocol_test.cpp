// Decoding of the results software's replies as the operator sees it: log texts, the
// detector list, detections information entries, spoken names and the version refusal.
#include "resultslink/link_protocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/resource_mutex.h"
#include "foundation/speech.h"
#include "resources/messages_resultslink.h"
#include "resultslink/link_codes.h"
#include "resultslink/results_link.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

// Records what the speech engine hands to its voice.
class RecordingVoice final : public TextToSpeech {
 public:
  explicit RecordingVoice(std::vector<std::string>* spoken) : m_spoken(spoken) {}
  bool Speak(std::string_view utf8, bool /*purge*/) override {
    m_spoken->emplace_back(utf8);
    return true;
  }
  void Cancel() override {}
  void WaitUntilDone() override {}

 private:
  std::vector<std::string>* m_spoken;
};

class LinkProtocolTest : public ::testing::Test {
 protected:
  LinkProtocolTest()
      : m_log(m_events),
        m_summaryLock("Summary", m_dir.path()),
        m_link(m_events, m_log),
        m_speech(std::make_unique<RecordingVoice>(&m_spoken)),
        m_protocol(
            m_link, m_log, m_summaryLock,
            LinkProtocolHooks{[this](const CSummaryItem& entry) { m_entries.push_back(entry); },
                              [this](const std::string& first, const std::string& last) {
                                m_speech.SayRunnerName(first, last);
                              },
                              [this] { ++m_refusals; }}) {
    m_log.SetPostingEnabled(true);
  }

  // The texts posted to the log since the last call, with their levels.
  std::vector<std::string> Logged(std::vector<int>* levels = nullptr) {
    std::vector<std::string> texts;
    m_events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        texts.push_back(line->text);
        if (levels != nullptr) {
          levels->push_back(line->level);
        }
      }
    });
    return texts;
  }

  testing::TempDir m_dir;
  EventQueue m_events;
  Logger m_log;
  CResourceMutex m_summaryLock;
  CResultsLink m_link;
  std::vector<std::string> m_spoken;
  CSpeechEngine m_speech;
  std::vector<CSummaryItem> m_entries;
  int m_refusals = 0;
  CLinkProtocol m_protocol;
};

using Texts = std::vector<std::string>;

TEST_F(LinkProtocolTest, ErrorRepliesLogTheStatusText) {
  std::vector<int> levels;
  EXPECT_EQ(m_protocol.DecodeLinkReply("ERR:103"), LinkReplyKind::kError);
  EXPECT_EQ(m_protocol.DecodeLinkReply("ERR:-2"), LinkReplyKind::kError);
  EXPECT_EQ(m_protocol.DecodeLinkReply("ERR:77"), LinkReplyKind::kError);
  EXPECT_EQ(m_protocol.DecodeLinkReply("ERR:x"), LinkReplyKind::kUndecodable);
  EXPECT_EQ(Logged(&levels),
            (Texts{"$$$ Commande inconnue", "$$$ " + Utf8ToCp1252("Id. puce non trouvé"),
                   "$$$ " + Tr(kMsgLinkUnknownStatus), "$$$ Can't decode ERR:x"}));
  EXPECT_EQ(levels, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(m_entries.empty());
}

TEST_F(LinkProtocolTest, InfoRepliesLogTheCommandNameAndText) {
  m_protocol.DecodeLinkReply("NFO:24 Chrono");
  m_protocol.DecodeLinkReply("NFO:5 Demo race");
  m_protocol.DecodeLinkReply("NFO:28");
  m_protocol.DecodeLinkReply("NFO:99 what");
  m_protocol.DecodeLinkReply("NFO:x");
  EXPECT_EQ(Logged(),
            (Texts{"$$$ Application: Chrono",
                   "$$$ " + Utf8ToCp1252("Nom de la compétition") + ": Demo race",
                   "$$$ Printable Version", "$$$ " + Tr(kMsgLinkUnknownCommand) + ": what",
                   "$$$ Can't decode NFO:x"}));
}

TEST_F(LinkProtocolTest, PingAnswersAreSilent) {
  EXPECT_EQ(m_protocol.DecodeLinkReply("NFO:20"), LinkReplyKind::kInfo);
  EXPECT_EQ(m_protocol.DecodeLinkReply("NFO:20 still here"), LinkReplyKind::kInfo);
  EXPECT_TRUE(Logged().empty());
}

TEST_F(LinkProtocolTest, DetectorListDropsEmptyPiecesAndIsReplacedEachTime) {
  m_protocol.DecodeLinkReply("NFO:7 D1\\D2\\\\D3");
  EXPECT_EQ(m_protocol.DetectorList(), (Texts{"D1", "D2", "D3"}));
  EXPECT_EQ(Logged(), (Texts{"$$$ " + Utf8ToCp1252("Liste des détecteurs") + ": D1\\D2\\\\D3"}));
  m_protocol.DecodeLinkReply("NFO:7 \\31\\");
  EXPECT_EQ(m_protocol.DetectorList(), (Texts{"31"}));
  m_protocol.DecodeLinkReply("NFO:7");
  EXPECT_TRUE(m_protocol.DetectorList().empty());
  m_protocol.DecodeLinkReply("NFO:7 A");
  m_protocol.ClearDetectorList();
  EXPECT_TRUE(m_protocol.DetectorList().empty());
}

TEST_F(LinkProtocolTest, OldVersionsAreRefusedNumerically) {
  struct Case {
    const char* line;
    bool refused;
  };
  for (const Case& c :
       {Case{"NFO:27 4,4,0,0", false}, Case{"NFO:27 4,4,0,1", false},
        Case{"NFO:27 10,0,0,0", false}, Case{"NFO:27 4,3,9,0", true}, Case{"NFO:27 garbage", false},
        Case{"NFO:27", false}, Case{"NFO:28 4,3,9,0", false}}) {
    m_refusals = 0;
    m_protocol.DecodeLinkReply(c.line);
    EXPECT_EQ(m_refusals, c.refused ? 1 : 0) << c.line;
  }
  Texts logged = Logged();
  EXPECT_EQ(logged[0], "$$$ Version: 4,4,0,0");
  EXPECT_EQ(logged[3], "$$$ Version: 4,3,9,0");
}

TEST_F(LinkProtocolTest, CreditedResultMakesARankedEntry) {
  // Each layout of the same credited runner gives the same entry.
  const Texts lines = {
      "nq04\\1\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3",
      "nq05\\1\\5.25\\FRA\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3",
      "nq06\\1\\5.25\\FRA\\10 km\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45"
      "\\0\\3",
      "RES:1\\31\\123\\1\\5.25\\FRA\\10 km\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\\\"
      "00:23:45\\0\\3"};
  for (const std::string& line : lines) {
    EXPECT_EQ(m_protocol.DecodeLinkReply(line), LinkReplyKind::kResult) << line;
  }
  ASSERT_EQ(m_entries.size(), 4u);
  for (const CSummaryItem& entry : m_entries) {
    EXPECT_EQ(entry.nameText, "Marie Durand                  ");
    EXPECT_EQ(entry.nameText.size(), 30u);
    EXPECT_EQ(entry.bib, 123);
    EXPECT_EQ(entry.timeText, "00:23:45");
    EXPECT_EQ(entry.passText, ".");
    EXPECT_EQ(entry.resultText, CLinkProtocol::RankText(DecodeTaggedResult(lines[0]).value()));
    EXPECT_EQ(entry.error, 0);
  }
  EXPECT_TRUE(Logged().empty());  // a credited result logs nothing
}

TEST_F(LinkProtocolTest, RankTextInBothLanguages) {
  CRunnerResult r;
  r.rankOverall = 12;
  r.rankSex = 1;
  r.rankCategory = 3;
  r.sex = "F";
  r.categoryCode = "SEN";
  r.category = "Senior";
  EXPECT_EQ(CLinkProtocol::RankText(r, Language::kFrench),
            Utf8ToCp1252("12ème - 1ère F - 3ème SEN"));
  EXPECT_EQ(CLinkProtocol::RankText(r, Language::kEnglish), "12th - 1st F - 3rd SEN");
  r.rankOverall = 0;
  EXPECT_EQ(CLinkProtocol::RankText(r, Language::kFrench), "F - Senior");
  EXPECT_EQ(CLinkProtocol::RankText(r, Language::kEnglish), "F - Senior");
}

TEST_F(LinkProtocolTest, EntryFieldsForPassTimeAndStatus) {
  m_protocol.DecodeLinkReply(
      "nq04\\3\\0\\0\\0\\7\\Petit\\Luc\\M\\V1\\Veteran 1\\Club\\00:00:00\\0\\-5");
  ASSERT_EQ(m_entries.size(), 1u);
  EXPECT_EQ(m_entries[0].passText, "p3");
  EXPECT_EQ(m_entries[0].timeText, "        ");
  EXPECT_EQ(m_entries[0].resultText, StatusText(-5));
  EXPECT_EQ(m_entries[0].error, 1);
  EXPECT_EQ(Logged(), (Texts{"------------------------ " + StatusText(-5)}));
}

TEST_F(LinkProtocolTest, ControlTimeChangesNothing) {
  EXPECT_EQ(m_protocol.DecodeLinkReply(
                "nq04\\1\\0\\0\\0\\7\\Petit\\Luc\\M\\V1\\V1\\Club\\00:10:00\\0\\-8"),
            LinkReplyKind::kControlTime);
  EXPECT_TRUE(m_entries.empty());
  EXPECT_TRUE(m_spoken.empty());
  EXPECT_TRUE(Logged().empty());
}

TEST_F(LinkProtocolTest, EmptyTeamIsUndecodableTaggedButAcceptedSplit) {
  EXPECT_EQ(
      m_protocol.DecodeLinkReply("nq04\\1\\0\\0\\0\\7\\Petit\\Luc\\M\\V1\\V1\\\\00:00:00\\0\\3"),
      LinkReplyKind::kUndecodable);
  EXPECT_TRUE(m_entries.empty());
  EXPECT_EQ(Logged(), (Texts{StrF(Tr(kMsgLinkDecodeError).c_str(), 6)}));
  EXPECT_EQ(m_protocol.DecodeLinkReply(
                "RES:1\\31\\7\\1\\0\\\\\\0\\0\\0\\7\\Petit\\Luc\\M\\V1\\V1\\\\00:00:00\\0\\3"),
            LinkReplyKind::kResult);
  ASSERT_EQ(m_entries.size(), 1u);
  EXPECT_EQ(m_entries[0].bib, 7);
  EXPECT_EQ(m_entries[0].resultText, "M - V1");
  // A split line cut short is reported, not read past its end.
  EXPECT_EQ(m_protocol.DecodeLinkReply("RES:1\\31\\7\\1"), LinkReplyKind::kUndecodable);
  EXPECT_EQ(Logged(), (Texts{StrF(Tr(kMsgLinkDecodeError).c_str(), 3)}));
}

TEST_F(LinkProtocolTest, SameRunnerTwiceIsSpokenOnce) {
  const std::string marie =
      "nq04\\1\\1\\1\\1\\12\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3";
  m_protocol.DecodeLinkReply(marie);
  m_protocol.DecodeLinkReply(marie);
  m_protocol.DecodeLinkReply("nq04\\1\\2\\1\\1\\7\\P" + Utf8ToCp1252("é") +
                             "tit\\Luc\\M\\V1\\V1\\Club\\00:24:00\\0\\3");
  m_protocol.DecodeLinkReply(marie);
  EXPECT_EQ(m_spoken, (Texts{"Marie  Durand", "Luc  P\xc3\xa9tit", "Marie  Durand"}));
  EXPECT_EQ(m_entries.size(), 4u);
}

TEST_F(LinkProtocolTest, LinkLinesAreEchoedAtLevel60First) {
  std::vector<int> levels;
  m_protocol.HandleLinkLine("ERR:104");
  EXPECT_EQ(Logged(&levels), (Texts{">>> ERR:104", "$$$ Commande invalide"}));
  EXPECT_EQ(levels, (std::vector<int>{60, 0}));
}

TEST_F(LinkProtocolTest, EntryIsAddedEvenWhenTheSummaryLockIsHeldElsewhere) {
  // Another process holds "Summary": the entry still goes in, after the wait.
  CResourceMutex other("Summary", m_dir.path());
  std::thread holder;
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  holder = std::thread([&] {
    if (other.Lock(CResourceMutex::kInfinite)) {
      held = true;
      while (!release) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      other.Unlock();
    }
  });
  while (!held) {
    std::this_thread::yield();
  }
  m_protocol.DecodeLinkReply(
      "nq04\\1\\1\\1\\1\\12\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3");
  release = true;
  holder.join();
  EXPECT_EQ(m_entries.size(), 1u);
}

TEST(LinkRequestTest, RequestTexts) {
  CKolResult record;
  record.detectorLabel = "31";
  record.bibText = "123";
  record.timeText = "10:23:45.12";
  EXPECT_EQ(CResultsLink::AddKolClockRequest(record), "AddKolClock(1\t31\t123\t1\t10:23:45.12)");
  record.timeText = "1336904625.12";
  EXPECT_EQ(CResultsLink::AddKolClockRequest(record), "AddKolClock(1\t31\t123\t1\t1336904625.12)");
  EXPECT_EQ(CLinkProtocol::InitialRequests(),
            (Texts{"GetMode()", "GetUserName()", "GetCompetitionName()", "GetFilename()",
                   "GetVersion()", "GetPrintableVersion()", "GetDetectorList()"}));
}

}  // namespace
}  // namespace lapora
