// RDAP document reading; see rdap_document.h. The member names and values are
// those of RFC 9083 (ldhName, handle, status, entities with roles and vCard
// "fn", "email" and "tel", events, nameservers, secureDNS, startAddress /
// endAddress / name, startAutnum / endAutnum, links).
#include "app/rdap/rdap_document.h"

#include <nlohmann/json.hpp>

namespace quillon {

namespace {

using Json = nlohmann::json;

// Deeper documents are refused before parsing goes on (the parser recurses).
constexpr int kMaxDepth = 64;

Json Parse(std::string_view document) {
  if (document.size() > kRdapMaxDocument) throw ERdapError("document too large");
  int depth = 0;
  bool tooDeep = false;
  Json parsed = Json::parse(
      document.begin(), document.end(),
      [&](int level, Json::parse_event_t event, Json&) {
        if (event == Json::parse_event_t::object_start ||
            event == Json::parse_event_t::array_start) {
          depth = level + 1;
          if (depth > kMaxDepth) tooDeep = true;
        }
        return !tooDeep;
      },
      false);
  if (tooDeep) throw ERdapError("document nested too deeply");
  if (parsed.is_discarded() || !parsed.is_object()) throw ERdapError("invalid JSON document");
  return parsed;
}

const Json* Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

// The member as a string; empty when absent or not a string.
std::string Text(const Json& object, const char* name) {
  const Json* m = Member(object, name);
  return m != nullptr && m->is_string() ? m->get<std::string>() : std::string();
}

const Json& EmptyArray() {
  static const Json empty = Json::array();
  return empty;
}

const Json& Array(const Json& object, const char* name) {
  const Json* m = Member(object, name);
  return m != nullptr && m->is_array() ? *m : EmptyArray();
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& p : parts) {
    if (!joined.empty()) joined += ", ";
    joined += p;
  }
  return joined;
}

bool HasRole(const Json& entity, const std::string& role) {
  for (const Json& r : Array(entity, "roles"))
    if (r.is_string() && Lower(r.get<std::string>()) == role) return true;
  return false;
}

// The first text value of a jCard property:
// ["vcard", [["fn", {}, "text", "Name"], ["email", {}, "text", "a@b"], ...]].
std::string CardValue(const Json& entity, const std::string& name) {
  const Json& card = Array(entity, "vcardArray");
  if (card.size() < 2 || !card[1].is_array()) return {};
  for (const Json& property : card[1]) {
    if (!property.is_array() || property.size() < 4) continue;
    if (property[0].is_string() && Lower(property[0].get<std::string>()) == name &&
        property[3].is_string() && !property[3].get<std::string>().empty())
      return property[3].get<std::string>();
  }
  return {};
}

std::string FormattedName(const Json& entity) {
  return CardValue(entity, "fn");
}

// Every entity under `object`, at any depth, in document order (an entity
// before the entities it holds).
void CollectEntities(const Json& object, std::vector<const Json*>& entities) {
  for (const Json& entity : Array(object, "entities")) {
    if (!entity.is_object()) continue;
    entities.push_back(&entity);
    CollectEntities(entity, entities);
  }
}

// The abuse contact: the email of an entity with the role "abuse" found at
// any depth, else its telephone (a "tel:" URI loses its scheme).
std::string AbuseContact(const Json& document) {
  std::vector<const Json*> entities;
  CollectEntities(document, entities);
  std::string telephone;
  for (const Json* entity : entities) {
    if (!HasRole(*entity, "abuse")) continue;
    std::string email = CardValue(*entity, "email");
    if (!email.empty()) return email;
    if (telephone.empty()) {
      telephone = CardValue(*entity, "tel");
      if (Lower(telephone.substr(0, 4)) == "tel:") telephone.erase(0, 4);
    }
  }
  return telephone;
}

// "AS number: N", or "AS numbers: START - END" for a range.
std::string AutnumRange(const Json& document) {
  const Json* start = Member(document, "startAutnum");
  const Json* end = Member(document, "endAutnum");
  const auto number = [](const Json* n) -> std::string {
    if (n == nullptr || !n->is_number_unsigned()) return {};
    return std::to_string(n->get<uint64_t>());
  };
  const std::string first = number(start);
  const std::string last = number(end);
  if (first.empty()) return last.empty() ? std::string() : "AS number: " + last;
  if (last.empty() || last == first) return "AS number: " + first;
  return "AS numbers: " + first + " - " + last;
}

std::string EntityName(const Json& document, const std::string& role) {
  for (const Json& entity : Array(document, "entities")) {
    if (!HasRole(entity, role)) continue;
    std::string name = FormattedName(entity);
    if (!name.empty()) return name;
  }
  return {};
}

std::string EventDate(const Json& document, const std::string& action) {
  for (const Json& event : Array(document, "events")) {
    if (Lower(Text(event, "eventAction")) == action) {
      std::string date = Text(event, "eventDate");
      if (!date.empty()) return date;
    }
  }
  return {};
}

void Add(std::vector<std::string>& lines, const char* label, const std::string& value) {
  if (!value.empty()) lines.push_back(std::string(label) + ": " + PrintableText(value));
}

}  // namespace

std::vector<std::string> RdapRelatedLinks(std::string_view document) {
  const Json json = Parse(document);
  std::vector<std::string> hrefs;
  for (const Json& link : Array(json, "links")) {
    if (Lower(Text(link, "rel")) != "related") continue;
    if (Lower(Text(link, "type")) != "application/rdap+json") continue;
    const std::string href = Text(link, "href");
    if (!href.empty()) hrefs.push_back(href);
  }
  return hrefs;
}

void CheckRdapJson(std::string_view document) {
  (void)Parse(document);
}

std::vector<std::string> RdapSummaryLines(std::string_view document, TRdapObjectKind kind) {
  const Json json = Parse(document);
  std::vector<std::string> lines;
  if (kind == TRdapObjectKind::Domain) {
    Add(lines, "Domain", Text(json, "ldhName"));
  } else if (kind == TRdapObjectKind::Network) {
    const std::string start = Text(json, "startAddress");
    const std::string end = Text(json, "endAddress");
    if (!start.empty() && !end.empty()) Add(lines, "Network", start + " - " + end);
    Add(lines, "Name", Text(json, "name"));
  } else {
    const std::string range = AutnumRange(json);
    if (!range.empty()) lines.push_back(range);
    Add(lines, "Name", Text(json, "name"));
  }
  Add(lines, "Handle", Text(json, "handle"));

  std::vector<std::string> status;
  for (const Json& s : Array(json, "status"))
    if (s.is_string() && !s.get<std::string>().empty()) status.push_back(s.get<std::string>());
  Add(lines, "Status", Join(status));

  if (kind == TRdapObjectKind::Domain)
    Add(lines, "Registrar", EntityName(json, "registrar"));
  else
    Add(lines, "Registrant", EntityName(json, "registrant"));
  Add(lines, "Abuse", AbuseContact(json));
  Add(lines, "Registered", EventDate(json, "registration"));
  if (kind != TRdapObjectKind::Autnum) Add(lines, "Expires", EventDate(json, "expiration"));
  Add(lines, "Last changed", EventDate(json, "last changed"));
  if (kind == TRdapObjectKind::Autnum) return lines;

  std::vector<std::string> servers;
  for (const Json& ns : Array(json, "nameservers")) {
    const std::string name = Lower(Text(ns, "ldhName"));
    if (!name.empty()) servers.push_back(name);
  }
  Add(lines, "Name servers", Join(servers));

  if (const Json* dnssec = Member(json, "secureDNS")) {
    const Json* signedFlag = Member(*dnssec, "delegationSigned");
    if (signedFlag != nullptr && signedFlag->is_boolean())
      lines.push_back(std::string("DNSSEC: ") + (signedFlag->get<bool>() ? "signed" : "unsigned"));
  }
  return lines;
}

}  // namespace quillon
