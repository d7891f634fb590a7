#include "model/Token_Data.h"

#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>
#include <vector>

#include "core/EscapedText.h"
#include "core/Logging.h"
#include "net/Place.h"
#include "tokendb/GMDB.h"

namespace {

// The stored attributes in request order, each with the buffer type its column is read into.
struct Attribute {
  const char* name;
  SQLSMALLINT type;
};
const Attribute ATTRIBUTES[] = {
    {"n", SQL_C_CHAR}, {"s", SQL_C_SLONG}, {"l", SQL_C_SLONG},  {"gT", SQL_C_TYPE_TIMESTAMP},
    {"d", SQL_C_BIT},  {"ood", SQL_C_BIT}, {"tL", SQL_C_SLONG}, {"gL", SQL_C_SLONG}};
const size_t ATTRIBUTE_COUNT = std::size(ATTRIBUTES);

template <class Value>
void logSet(const char* field, const Value& value) {
  if (std::ostream* log = Logging::token())
    *log << "set : Data." << field << " to " << value << "\n";
}

bool fits(const token_description& row) {
  if (row.attributes.size() != ATTRIBUTE_COUNT) return false;
  for (size_t k = 0; k < ATTRIBUTE_COUNT; ++k) {
    if (row.attributes[k]->sql_c_type != ATTRIBUTES[k].type) return false;
  }
  return true;
}

// The fields of a buffer of the type `fits` has checked; a 4-byte integer is what the driver
// writes for SQL_C_SLONG, whatever width the host's long has.
Long32 number(const token_attribute& attribute) {
  Long32 value;
  static_assert(sizeof value == 4, "SQL_C_SLONG is a 4-byte integer");
  std::memcpy(&value, attribute.value, sizeof value);
  return value;
}

bool flag(const token_attribute& attribute) { return attribute.value[0] != 0; }

std::string text(const token_attribute& attribute) {
  return std::string(attribute.value, strnlen(attribute.value, sizeof attribute.value));
}

// A NULL column reads as all zeros; it, and a stored date the calendar does not have, keep the
// default time instead of adding up to a meaningless one.
DateTime timestamp(const token_attribute& attribute, int id) {
  SQL_TIMESTAMP_STRUCT t;
  std::memcpy(&t, attribute.value, sizeof t);
  const auto month = static_cast<DateTime::month>(t.month);
  DateTime time;
  if (DateTime::IsValid(month, t.day, t.year, t.hour, t.minute, t.second) &&
      t.fraction < 1000000000u) {
    time.Set(month, t.day, t.year, t.hour, t.minute, t.second, t.fraction / 1e9);
  } else if (t.year != 0 || t.month != 0 || t.day != 0) {
    std::cout << "Token " << id << " of type Data: gT is no valid date, kept " << time << std::endl;
  }
  return time;
}

// Clears the flag on every way out of the text's construction, so that a failure while building
// one text does not turn every later text into "NULL".
class Lock {
 public:
  explicit Lock(bool& flag) : flag(flag) { flag = true; }
  ~Lock() { flag = false; }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  bool& flag;
};

}  // namespace

Token_Data::Token_Data() = default;

Token_Data::Token_Data(const Token_Data& other, bool copyTransitions)
    : Token(other, copyTransitions),
      n(other.n),
      s(other.s),
      l(other.l),
      gT(other.gT),
      d(other.d),
      ood(other.ood),
      tL(other.tL),
      gL(other.gL) {}

Token_Data::~Token_Data() = default;

Token_Data& Token_Data::operator=(const Token_Data& other) {
  if (&other == this) return *this;
  Token::operator=(other);
  n = other.n;
  s = other.s;
  l = other.l;
  gT = other.gT;
  d = other.d;
  ood = other.ood;
  tL = other.tL;
  gL = other.gL;
  return *this;
}

std::string Token_Data::getName() const { return "Data"; }

std::string Token_Data::content() const {
  static bool locked = false;
  if (locked) return "NULL";
  const Lock lock(locked);
  std::ostringstream out;
  out << "{n=\"" << n << "\"; s=" << s << "; l=" << l << "; gT=" << gT << "; d=" << d
      << "; ood=" << ood << "; tL=" << tL << "; gL=" << gL << "}";
  return out.str();
}

void Token_Data::set_n(const std::string& value) {
  logSet("n", value);
  n = value;
}

void Token_Data::set_s(Long32 value) {
  logSet("s", value);
  s = value;
}

void Token_Data::set_l(Long32 value) {
  logSet("l", value);
  l = value;
}

void Token_Data::set_gT(const DateTime& value) {
  logSet("gT", value);
  gT = value;
}

void Token_Data::set_d(bool value) {
  logSet("d", static_cast<int>(value));
  d = value;
}

void Token_Data::set_ood(bool value) {
  logSet("ood", static_cast<int>(value));
  ood = value;
}

void Token_Data::set_tL(Long32 value) {
  logSet("tL", value);
  tL = value;
}

void Token_Data::set_gL(Long32 value) {
  logSet("gL", value);
  gL = value;
}

Token_Data* Token_Data::createFromRow(const token_description& row) {
  if (!fits(row)) {
    std::cout << "Token " << row.id
              << " of type Data does not hold the attributes n, s, l, gT, d, ood, tL, gL: skipped"
              << std::endl;
    return nullptr;
  }
  const std::vector<token_attribute*>& a = row.attributes;
  auto* token = new Token_Data();
  token->set_n(text(*a[0]));
  token->set_s(number(*a[1]));
  token->set_l(number(*a[2]));
  token->set_gT(timestamp(*a[3], row.id));
  token->set_d(flag(*a[4]));
  token->set_ood(flag(*a[5]));
  token->set_tL(number(*a[6]));
  token->set_gL(number(*a[7]));
  return token;
}

void Token_Data::createTokensFromDB(NetClass*, GMDB* db, token_info_list& tokens,
                                    token_reference_list&) {
  std::vector<attr_name_type_info*> request;
  for (const Attribute& attribute : ATTRIBUTES) {
    request.push_back(new attr_name_type_info);
    request.back()->name = attribute.name;
    request.back()->sql_c_type = attribute.type;
  }
  // A failed read leaves the rows empty and has printed its own messages.
  token_description_list rows;
  db->DBReadTokens(1, "Data", &request, &rows);
  for (attr_name_type_info* entry : request) delete entry;

  for (token_description* row : rows.token_descriptions) {
    if (Token_Data* token = createFromRow(*row)) {
      auto* info = new token_info;
      info->tokentypename = "Data";
      info->token = Ptr<Token>(token);
      info->id = row->id;
      info->place_name = row->place_name;
      tokens.push_back(info);
    }
    for (token_attribute* attribute : row->attributes) delete attribute;
    delete row;
  }
}

void Token_Data::addInitialTokens(Place* place) {
  MarkingFile::forEachToken(place->getName(), [place](const MarkingFile::Element& element) {
    auto* token = new Token_Data();
    const Ptr<Token> held(token);
    token->readTokenData(element);
    place->addToken(held);
  });
}

void Token_Data::readTokenData(const MarkingFile::Element& element) {
  set_n(MarkingFile::readText(element, u"n"));
  set_s(MarkingFile::readLong(element, u"s"));
  set_l(MarkingFile::readLong(element, u"l"));
  // Only a text of the form hh:mm:ss@mm/dd/yyyy is read as a time; its fields are taken by
  // position, so anything shorter would be read past its end.
  const std::string time = MarkingFile::readText(element, u"gT");
  if (DateTime::Check(time)) {
    set_gT(DateTime(time));
  } else {
    std::cout << "Data token in marking.xml: gT \"" << escapedText(time)
              << "\" is no time of the form hh:mm:ss@mm/dd/yyyy, kept " << DateTime() << std::endl;
    set_gT(DateTime());
  }
  set_d(MarkingFile::readText(element, u"d") == "true");
  set_ood(MarkingFile::readText(element, u"ood") == "true");
  set_tL(MarkingFile::readLong(element, u"tL"));
  set_gL(MarkingFile::readLong(element, u"gL"));
}
