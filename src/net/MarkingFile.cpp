#include "net/MarkingFile.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "core/EscapedText.h"

namespace {

namespace xc = XERCES_CPP_NAMESPACE;

const char* const FILE_NAME = "marking.xml";

// Entity references a marking file may expand in all, and the characters an entity may stand for
// (before its own references are expanded): one expansion yields at most that, so all of them at
// most a few million characters, however large the file.
const XMLSize_t ENTITY_EXPANSION_LIMIT = 1000;
const XMLSize_t ENTITY_TEXT_LIMIT = 4096;
// The characters of text (character data and attribute values) the document may come to once
// entities are expanded and attribute defaults filled in, per byte of the file and beyond that.
// A default declared once is copied into every element, so it could make a small file huge.
const std::uintmax_t TEXT_PER_FILE_BYTE = 16;
const std::uintmax_t TEXT_ALLOWANCE = 1 << 20;

// A library text in the local 8-bit character set, for messages. The conversion may fail (null or
// an exception) on characters that set cannot show; those then print as '?'.
std::string localText(const XMLCh* text) {
  if (text == nullptr) return "";
  try {
    if (char* local = xc::XMLString::transcode(text)) {
      std::string copy(local);
      xc::XMLString::release(&local);
      return copy;
    }
  } catch (const xc::XMLException&) {
  }
  std::string ascii;
  for (const XMLCh* c = text; *c != 0; ++c) ascii += *c < 0x80 ? static_cast<char>(*c) : '?';
  return ascii;
}

// The library is set up once for the process, on first use, and shut down by the exit handlers:
// a transient run reads the file once per replication, and setting the library up each time
// would cost more than the parse. Returns the failure line, empty on success.
std::string initialisePlatform() {
  struct Platform {
    Platform() { xc::XMLPlatformUtils::Initialize("en_US"); }
    ~Platform() { xc::XMLPlatformUtils::Terminate(); }
  };
  try {
    static const Platform platform;  // a constructor that throws is tried again on the next call
  } catch (const xc::XMLException& e) {
    return "Error during initialization! :" + localText(e.getMessage()) + "\n";
  }
  return "";
}

template <class Char>
struct ReleaseText {
  void operator()(Char* text) const { xc::XMLString::release(&text); }
};

// The text converted to the local 8-bit character set, when that set shows it exactly: converted
// back, it gives the same characters.
bool exactLocalText(const XMLCh* text, std::string& local) {
  try {
    std::unique_ptr<char, ReleaseText<char>> converted(xc::XMLString::transcode(text));
    if (!converted) return false;
    std::unique_ptr<XMLCh, ReleaseText<XMLCh>> back(xc::XMLString::transcode(converted.get()));
    if (!back || !xc::XMLString::equals(back.get(), text)) return false;
    local = converted.get();
    return true;
  } catch (const xc::XMLException&) {
    return false;
  }
}

// A limit of the marking file that the document passed, with the position where it did.
struct LimitExceeded {
  std::string message;
  XMLFileLoc line, column;
};

// A DOM parser that refuses a document whose text grows past the limits above, before it has
// built it: the library bounds the number of expansions only.
class BoundedParser : public xc::XercesDOMParser {
 public:
  explicit BoundedParser(std::uintmax_t textLimit) : textLimit(textLimit) {}

 protected:
  void entityDecl(const xc::DTDEntityDecl& decl, const bool isPEDecl,
                  const bool isIgnored) override {
    if (decl.getValueLen() > ENTITY_TEXT_LIMIT) {
      refuse("entity '" + localText(decl.getName()) + "' is longer than " +
             std::to_string(ENTITY_TEXT_LIMIT) + " characters");
    }
    XercesDOMParser::entityDecl(decl, isPEDecl, isIgnored);
  }
  void docCharacters(const XMLCh* const chars, const XMLSize_t length,
                     const bool cdataSection) override {
    addText(length);
    XercesDOMParser::docCharacters(chars, length, cdataSection);
  }
  void startElement(const xc::XMLElementDecl& decl, const unsigned int urlId,
                    const XMLCh* const prefix, const xc::RefVectorOf<xc::XMLAttr>& attributes,
                    const XMLSize_t count, const bool isEmpty, const bool isRoot) override {
    for (XMLSize_t k = 0; k < count; ++k)
      addText(xc::XMLString::stringLen(attributes.elementAt(k)->getValue()));
    XercesDOMParser::startElement(decl, urlId, prefix, attributes, count, isEmpty, isRoot);
  }

 private:
  void addText(XMLSize_t length) {
    text += length;
    if (text > textLimit) {
      refuse("more than " + std::to_string(textLimit) +
             " characters of text once entities are expanded and attribute defaults filled in");
    }
  }
  [[noreturn]] void refuse(const std::string& message) const {
    const xc::Locator* at = getScanner()->getLocator();
    throw LimitExceeded{message, at->getLineNumber(), at->getColumnNumber()};
  }

  std::uintmax_t textLimit;
  std::uintmax_t text = 0;
};

// The file as the program opened it: read from that descriptor, so that what was checked is what
// is parsed. The source owns the descriptor; its streams only read from it.
class OpenedFile : public xc::InputSource {
 public:
  explicit OpenedFile(int fd) : xc::InputSource(u"marking.xml"), fd(fd) {}
  ~OpenedFile() override { ::close(fd); }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  xc::BinInputStream* makeStream() const override { return new Stream(fd); }

 private:
  class Stream : public xc::BinInputStream {
   public:
    explicit Stream(int fd) : fd(fd) {}
    XMLFilePos curPos() const override { return position; }
    // A read that fails ends the input, which the parser then reports as cut short.
    XMLSize_t readBytes(XMLByte* const into, const XMLSize_t most) override {
      ssize_t n;
      do n = ::read(fd, into, most);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return 0;
      position += static_cast<XMLFilePos>(n);
      return static_cast<XMLSize_t>(n);
    }
    const XMLCh* getContentType() const override { return nullptr; }

   private:
    int fd;
    XMLFilePos position = 0;
  };

  int fd;
};

// The failure line of the file: its name, and the line and column where the parser stopped when
// it knows them.
std::string fileFailure(const std::string& message, XMLFileLoc line = 0, XMLFileLoc column = 0) {
  std::string where = FILE_NAME;
  if (line > 0) where += ":" + std::to_string(line) + ":" + std::to_string(column);
  return where + ": " + message + "\n";
}

// Parses the file and visits its token elements; returns the failure line, empty on success.
// Everything the parse allocated is released before the caller ends the process.
std::string visitTokens(const MarkingFile::Visit& visit) {
  if (std::string failure = initialisePlatform(); !failure.empty()) return failure;
  xc::SecurityManager security;
  security.setEntityExpansionLimit(ENTITY_EXPANSION_LIMIT);
  xc::HandlerBase errors;  // turns fatal errors into SAX exceptions
  // Opened without waiting, and read only when it is a regular file: a FIFO or a device under the
  // name would hold the program where nothing ends the wait. A file that cannot be opened is left
  // to the parser, which says why as it always has.
  std::unique_ptr<OpenedFile> opened;
  std::uintmax_t size = 0;
  if (const int fd = ::open(FILE_NAME, O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
    opened = std::make_unique<OpenedFile>(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
      return std::string(FILE_NAME) +
             " is not a regular file: a marking is read from regular files only.\n";
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = static_cast<std::uintmax_t>(status.st_size);
  }
  std::unique_ptr<xc::XercesDOMParser> parser;
  try {
    parser = std::make_unique<BoundedParser>(size * TEXT_PER_FILE_BYTE + TEXT_ALLOWANCE);
    parser->setErrorHandler(&errors);
    parser->setLoadExternalDTD(false);
    parser->setDisableDefaultEntityResolution(true);  // an external entity is an error, not a read
    parser->setSecurityManager(&security);
    if (opened) {
      parser->parse(*opened);
    } else {
      parser->parse(FILE_NAME);
    }
  } catch (const LimitExceeded& e) {
    return fileFailure(e.message, e.line, e.column);
  } catch (const xc::XMLException& e) {
    return fileFailure("Xerces XML Exception message is: " + localText(e.getMessage()));
  } catch (const xc::DOMException& e) {
    return fileFailure("Xerces DOM Exception message is: " + localText(e.getMessage()));
  } catch (const xc::SAXParseException& e) {
    return fileFailure("Xerces SAX Exception message is: " + localText(e.getMessage()),
                       e.getLineNumber(), e.getColumnNumber());
  } catch (const xc::SAXException& e) {
    return fileFailure("Xerces SAX Exception message is: " + localText(e.getMessage()));
  } catch (...) {
    return fileFailure("Xerces Unexpected Exception ");
  }

  const xc::DOMDocument* document = parser->getDocument();
  if (document == nullptr) return "";
  // The list is live: asking its length walks the whole document and sends the next lookup back to
  // its start, so the length is asked once and the elements are taken in order.
  const xc::DOMNodeList* tokens = document->getElementsByTagName(u"token");
  const XMLSize_t count = tokens->getLength();
  // Tokens of one place mostly come together: its name is converted once for all of them.
  const XMLCh* lastPlace = nullptr;
  std::string place;
  bool exact = false;
  for (XMLSize_t k = 0; k < count; ++k) {
    const auto* element = static_cast<const xc::DOMElement*>(tokens->item(k));
    const XMLCh* name = element->getAttribute(u"place");
    if (lastPlace == nullptr || !xc::XMLString::equals(name, lastPlace)) {
      exact = exactLocalText(name, place);
      if (!exact) place = localText(name);
      lastPlace = name;
    }
    visit(place, exact, *element);
  }
  return "";
}

}  // namespace

void MarkingFile::forEachToken(const Visit& visit) {
  const std::string failure = visitTokens(visit);
  if (failure.empty()) return;
  // The parser's message may quote the file, control characters and all; the line end is ours.
  std::cerr << escapedText(std::string_view(failure).substr(0, failure.size() - 1)) << "\n"
            << std::flush;
  std::exit(1);
}

void MarkingFile::forEachToken(const std::string& placeName,
                               const std::function<void(const Element&)>& visit) {
  forEachToken([&](const std::string& place, bool exact, const Element& element) {
    if (exact && place == placeName) visit(element);
  });
}

Long32 MarkingFile::readLong(const Element& element, const char16_t* attribute) {
  const XMLCh* c = element.getAttribute(attribute);
  if (c == nullptr) return 0;
  // atol's blanks: space, \t, \n, \v, \f and \r.
  while (*c == u' ' || (*c >= u'\t' && *c <= u'\r')) ++c;
  const bool negative = *c == u'-';
  if (*c == u'-' || *c == u'+') ++c;
  // The magnitude stops growing just past the range, so no digit string overflows it.
  const std::int64_t bound = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; *c >= u'0' && *c <= u'9'; ++c) magnitude = std::min(bound, magnitude * 10 + (*c - u'0'));
  return static_cast<Long32>(negative ? -magnitude : std::min(magnitude, bound - 1));
}

std::string MarkingFile::readText(const Element& element, const char16_t* attribute) {
  return localText(element.getAttribute(attribute));
}
