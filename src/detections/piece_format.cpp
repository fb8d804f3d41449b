#include "detections/piece_format.h"

#include <charconv>
#include <utility>

namespace lapora {

CPieceFormat::CPieceFormat(std::string_view format) {
  Piece current;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      current.literal.push_back(c);
      continue;
    }
    char next = format[i + 1];
    if (next == '%') {
      current.literal.push_back('%');
      ++i;
    } else if (next == 's' || next == 'd') {
      current.conversion = next;
      m_literalSize += current.literal.size();
      m_pieces.push_back(std::move(current));
      current = Piece{};
      ++i;
    } else {
      m_supported = false;
      current.literal.push_back(c);
    }
  }
  m_literalSize += current.literal.size();
  m_pieces.push_back(std::move(current));
}

std::string CPieceFormat::Format(std::initializer_list<Arg> args) const {
  std::size_t size = m_literalSize;
  for (const Arg& arg : args) {
    size += arg.isText ? arg.text.size() : 11;
  }
  std::string out;
  out.reserve(size);
  const Arg* next = args.begin();
  for (const Piece& piece : m_pieces) {
    out.append(piece.literal);
    if (piece.conversion == 0 || next == args.end()) {
      continue;
    }
    if (next->isText) {
      out.append(next->text);
    } else {
      char digits[16];
      auto result = std::to_chars(digits, digits + sizeof digits, next->number);
      out.append(digits, result.ptr);
    }
    ++next;
  }
  return out;
}

}  // namespace lapora
