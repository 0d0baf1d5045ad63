// Request files: read in the encoding they name, checked to be a well-formed request before
// anything is sent.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "lirvo/encoding.h"
#include "lirvo/modTally.h"
#include "lirvo/text.h"

namespace modTally {

namespace {

namespace enc = lirvo::encoding;

std::string Shown(const std::filesystem::path& path) {
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  return (absolute.empty() ? path : absolute).string();
}

[[noreturn]] void FileFailure(const std::filesystem::path& path, const std::string& reason) {
  throw Failure(FailureNumber::kFile,
                "cannot read the request file " + Shown(path) + ": " + reason);
}

[[noreturn]] void Refuse(const std::filesystem::path& path, std::string_view text,
                         std::size_t offset, const std::string& reason) {
  const enc::Position at = enc::PositionOf(text, offset);
  throw Failure(FailureNumber::kParse, "the request file " + Shown(path) + " is refused at line " +
                                           std::to_string(at.line) + ", column " +
                                           std::to_string(at.column) + ": " + reason +
                                           "; nothing was sent");
}

// The XML declaration at the start of `text` (ASCII-compatible), or "" when there is none.
std::string_view DeclarationOf(std::string_view text) {
  if (!text.starts_with("<?xml") || text.size() < 6 ||
      std::string_view(" \t\r\n?").find(text[5]) == std::string_view::npos) {
    return {};
  }
  const std::size_t end = text.find("?>");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 2);
}

// The value of the declaration's encoding pseudo-attribute and where it sits (offset of the
// whole `encoding="..."`, its length); an empty value when there is none.
struct DeclaredEncoding {
  std::string value;
  std::size_t offset = 0;
  std::size_t length = 0;
};
DeclaredEncoding EncodingOf(std::string_view declaration) {
  DeclaredEncoding declared;
  const std::size_t at = declaration.find("encoding");
  if (at == std::string_view::npos) {
    return declared;
  }
  std::size_t i = at + 8;
  while (i < declaration.size() &&
         std::string_view(" \t\r\n").find(declaration[i]) != std::string_view::npos) {
    ++i;
  }
  if (i >= declaration.size() || declaration[i] != '=') {
    return declared;
  }
  ++i;
  while (i < declaration.size() &&
         std::string_view(" \t\r\n").find(declaration[i]) != std::string_view::npos) {
    ++i;
  }
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) {
    return declared;
  }
  const std::size_t close = declaration.find(declaration[i], i + 1);
  if (close == std::string_view::npos) {
    return declared;
  }
  declared.value = lirvo::text::FoldCase(declaration.substr(i + 1, close - i - 1));
  declared.offset = at;
  declared.length = close + 1 - at;
  // Take the blank before it along, so that removing it leaves a tidy declaration.
  while (declared.offset > 0 && declaration[declared.offset - 1] == ' ') {
    --declared.offset, ++declared.length;
  }
  return declared;
}

// The file's bytes as UTF-8 text: unchanged for UTF-8, converted otherwise, with the encoding
// named in a declaration removed from the converted text.
std::string AsUtf8(const std::filesystem::path& path, const std::string& bytes) {
  std::string text;
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") ||
      bytes.starts_with(std::string_view("<\0?\0", 4)) ||
      bytes.starts_with(std::string_view("\0<\0?", 4))) {
    const bool little = bytes.starts_with("\xFF\xFE") || bytes[0] == '<';
    const std::size_t mark = (bytes[0] == '<' || bytes[0] == '\0') ? 0 : 2;
    const std::string_view units = std::string_view(bytes).substr(mark);
    try {
      text = enc::Utf16ToUtf8(units, little ? enc::ByteOrder::kLittle : enc::ByteOrder::kBig);
    } catch (const enc::Error& error) {
      // Show where it went wrong in the text read so far.
      const std::size_t good = error.offset() & ~std::size_t{1};
      const std::string before = enc::Utf16ToUtf8(
          units.substr(0, good), little ? enc::ByteOrder::kLittle : enc::ByteOrder::kBig);
      Refuse(path, before, before.size(),
             std::string("the file is not UTF-16 text there (") + error.what() + ")");
    }
  } else {
    const std::string_view declared = DeclarationOf(bytes);
    const std::string name = EncodingOf(declared).value;
    if (bytes.starts_with("\xEF\xBB\xBF") || name.empty() || name == "utf-8" || name == "utf8" ||
        name == "us-ascii" || name == "ascii") {
      const std::size_t bad = enc::FindInvalidUtf8(bytes);
      if (bad != std::string::npos) {
        Refuse(path, bytes, bad,
               "the file is not UTF-8 text there (byte " + std::to_string(bad + 1) +
                   "); save it as UTF-8 or name its encoding in the XML "
                   "declaration");
      }
      return bytes;
    }
    if (name == "windows-1252" || name == "cp1252") {
      text = enc::Windows1252ToUtf8(bytes);
    } else if (name == "iso-8859-1" || name == "latin1") {
      text = enc::Latin1ToUtf8(bytes);
    } else if (name.starts_with("utf-16")) {
      Refuse(path, bytes, EncodingOf(declared).offset,
             "its declaration names " + name +
                 " but the file is not UTF-16 (it has no byte order mark and its first character "
                 "is one byte)");
    } else {
      Refuse(path, bytes, EncodingOf(declared).offset,
             "its declaration names the encoding \"" + name +
                 "\", which is not read (UTF-8, UTF-16, Windows-1252, ISO-8859-1 are)");
    }
  }
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.erase(0, 3);
  }
  const DeclaredEncoding declared = EncodingOf(DeclarationOf(text));
  if (!declared.value.empty()) {
    text.erase(declared.offset, declared.length);
  }
  return text;
}

constexpr std::string_view kPredefined[] = {"lt", "gt", "amp", "apos", "quot"};

// The checks pugixml leaves out: every "&" starts a predefined entity or a character reference
// to a character XML allows, and there is no document type declaration. Comments, CDATA sections
// and processing instructions are passed over.
void CheckMarkup(const std::filesystem::path& path, std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t next = text.find_first_of("<&", at);
    if (next == std::string_view::npos) {
      return;
    }
    const std::string_view rest = text.substr(next);
    const auto skip_to = [&](std::string_view end) {
      const std::size_t found = text.find(end, next);
      at = found == std::string_view::npos ? text.size() : found + end.size();
    };
    if (rest.starts_with("<!--")) {
      skip_to("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skip_to("]]>");
    } else if (rest.starts_with("<?")) {
      skip_to("?>");
    } else if (rest.starts_with("<!DOCTYPE")) {
      Refuse(path, text, next,
             "a document type declaration is not accepted in a request (the server refuses it)");
    } else if (rest.starts_with("&")) {
      const std::size_t semicolon = rest.find_first_of(";<& \t\r\n", 1);
      const std::string_view name =
          rest.substr(1, semicolon == std::string_view::npos ? 0 : semicolon - 1);
      const bool closed = semicolon != std::string_view::npos && rest[semicolon] == ';';
      bool known = false;
      if (closed && name.starts_with("#")) {
        // Forbidden characters are what DropForbiddenXml removes; a well-formed reference keeps.
        const bool hex = name.starts_with("#x");
        const std::string_view digits = name.substr(hex ? 2 : 1);
        const std::string reference(rest.substr(0, semicolon + 1));
        known = !digits.empty() &&
                digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") ==
                    std::string_view::npos &&
                enc::DropForbiddenXml(reference) == reference;
      } else if (closed) {
        for (const std::string_view predefined : kPredefined) {
          known = known || name == predefined;
        }
      }
      if (!known) {
        Refuse(path, text, next,
               closed ? "\"&" + std::string(name) + ";\" is not a defined entity (write & as &amp;)"
                      : std::string("a bare \"&\" (write it as &amp;)"));
      }
      at = next + 1;
    } else {
      at = next + 1;
    }
  }
}

}  // namespace

std::string LoadRequestFile(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) {
    FileFailure(path, error.message());
  }
  if (!std::filesystem::exists(status)) {
    FileFailure(path, std::strerror(ENOENT));
  }
  if (std::filesystem::is_directory(status)) {
    FileFailure(path, std::strerror(EISDIR));
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > kMaxRequestBytes) {
    FileFailure(path, "it holds " + std::to_string(size) + " bytes, more than the " +
                          std::to_string(kMaxRequestBytes / (1024 * 1024)) +
                          " MiB the server accepts in one request");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    FileFailure(path, std::strerror(errno));
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(error ? 0 : size));
  // Read at most one byte past the limit: a file that grew after the size check is still refused.
  std::istreambuf_iterator<char> it(in);
  const std::istreambuf_iterator<char> end;
  for (; it != end && bytes.size() <= kMaxRequestBytes; ++it) {
    bytes += *it;
  }
  if (in.bad()) {
    FileFailure(path, std::strerror(errno));
  }
  if (bytes.size() > kMaxRequestBytes) {
    FileFailure(path, "it holds more than the " + std::to_string(kMaxRequestBytes / (1024 * 1024)) +
                          " MiB the server accepts in one request");
  }

  const std::string text = AsUtf8(path, bytes);
  CheckMarkup(path, text);
  pugi::xml_document document;
  const pugi::xml_parse_result parsed =
      document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    Refuse(path, text, static_cast<std::size_t>(parsed.offset),
           std::string("it is not well-formed XML (") + parsed.description() + ")");
  }
  if (!document.document_element() ||
      std::count_if(document.begin(), document.end(), [](const pugi::xml_node& node) {
        return node.type() == pugi::node_element;
      }) != 1) {
    Refuse(path, text, text.size(),
           "it is not well-formed XML (it needs exactly one root element)");
  }
  return text;
}

}  // namespace modTally
