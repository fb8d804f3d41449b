// The simulator's own answers to request lines: information requests, ping, detections and
// anything else. Not thread-safe; the simulator uses it from its one thread.
#pragma once

#include <string>
#include <vector>

#include "result_book.h"

namespace lapora::resultsim {

struct CInfoTexts {
  std::string mode = "Chrono";
  std::string user = "Demo";
  std::string competition = "Demo race";
  std::string file = "demo.dxp";
  std::string version = "4,4,0,1";
  std::string printableVersion = "4.40a";
  std::string detectors;  // pieces already joined with backslashes
};

class CResponder {
 public:
  CResponder(CInfoTexts texts, CResultBook& book, Layout layout, std::string reserved,
             std::string fillEmpty)
      : m_texts(std::move(texts)),
        m_book(book),
        m_layout(layout),
        m_reserved(std::move(reserved)),
        m_fillEmpty(std::move(fillEmpty)) {}

  // The reply lines (without line ends) to one request line given without its trailing CRs;
  // note gets a short description of what the request was, for the event output.
  std::vector<std::string> Answer(const std::string& request, std::string& note);

 private:
  CInfoTexts m_texts;
  CResultBook& m_book;
  Layout m_layout;
  std::string m_reserved;
  std::string m_fillEmpty;
};

}  // namespace lapora::resultsim
