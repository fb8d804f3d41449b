// A catalogue text with %s and %d conversions only, split once into literal pieces so that a
// detection's log texts are made by concatenation instead of a printf call each. Immutable
// after construction: safe to share between threads.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace lapora {

class CPieceFormat {
 public:
  // One argument: a text or an integer.
  struct Arg {
    Arg(std::string_view text) : text(text), isText(true) {}
    Arg(const std::string& text) : text(text), isText(true) {}
    Arg(const char* text) : text(text), isText(true) {}
    Arg(int number) : number(number), isText(false) {}
    std::string_view text;
    int number = 0;
    bool isText;
  };

  explicit CPieceFormat(std::string_view format);

  // False when the format holds another conversion than %s, %d or %%; such a conversion is
  // then copied as it stands.
  bool Supported() const { return m_supported; }

  // As printf with this format: texts for %s, integers for %d, in order. A missing argument
  // gives nothing, a mismatched one is written as its own kind.
  std::string Format(std::initializer_list<Arg> args) const;

 private:
  struct Piece {
    std::string literal;  // written before the conversion
    char conversion = 0;  // 's', 'd' or 0 for the final piece
  };
  std::vector<Piece> m_pieces;
  std::size_t m_literalSize = 0;
  bool m_supported = true;
};

}  // namespace lapora
