// The stand-in's request routing: a POST is parsed once and sent to the export reports, the
// collection export or the import, which applies each master and voucher as an item of its own
// (refused whole or applied whole) and answers with the server's counters. Masters, vouchers,
// value parsing, exports and the reply forms live in their own files; the request's encoding is
// worked out here, before anything else, which keeps this file a little over 400 lines.
#include <lirvo/standin/service.h>

#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>

#include <lirvo/encoding.h>
#include <pugixml.hpp>

#include "exports.h"
#include "masters.h"
#include "overview.h"
#include "replies.h"
#include "store.h"
#include "text.h"
#include "values.h"
#include "vouchers.h"

namespace lirvo::standin {

namespace {

// Every ledger in the server's List of Accounts carries <GSTREGISTRATIONTYPE>&#4; Not
// Applicable</GSTREGISTRATIONTYPE>: a character reference XML 1.0 forbids, which pugixml does not
// write as such. The element is built holding a marker and the reference put in as text.
constexpr const char* kGstMarker = "\x04 Not Applicable";
constexpr std::string_view kGstWritten = "<GSTREGISTRATIONTYPE>&#04; Not Applicable<";
constexpr std::string_view kGstServer = "<GSTREGISTRATIONTYPE>&#4; Not Applicable<";

HttpReply GstReferencesInserted(HttpReply reply) {
  std::string& body = reply.body;
  std::string out;
  out.reserve(body.size());
  std::size_t from = 0;
  for (std::size_t at = body.find(kGstWritten); at != std::string::npos;
       at = body.find(kGstWritten, from)) {
    out.append(body, from, at - from).append(kGstServer);
    from = at + kGstWritten.size();
  }
  out.append(body, from);
  body = std::move(out);
  return reply;
}

namespace encoding = lirvo::encoding;

// The two ways the server reads and answers a request.
enum class Wire {
  // UTF-16 in, UTF-16LE out under charset=utf-16: the server keeps every character.
  kUtf16,
  // 8-bit in (UTF-8, or Windows-1252 bytes), Windows-1252 out under the header's charset=utf-8:
  // everything outside that code page becomes '?', both in what is stored and in the reply.
  kEightBit,
};

struct DecodedRequest {
  Wire wire = Wire::kEightBit;
  std::string text;  // UTF-8, the byte order mark removed; empty when it could not be decoded
  bool valid = true;
};

// Reads a request body by its byte order mark, then the charset of its Content-Type, then its
// bytes (UTF-16 without a mark is recognised by its zero bytes), as the client's reply decoder
// does. A UTF-8 request goes through Windows-1252 and back, so that the text applied holds '?'
// wherever the server would have lost a character.
DecodedRequest DecodeRequest(std::string_view body, std::string_view content_type) {
  DecodedRequest request;
  try {
    switch (encoding::DetectReplyEncoding(body, content_type)) {
      case encoding::Encoding::kUtf16Le:
        if (body.starts_with("\xFF\xFE")) {
          body.remove_prefix(2);
        }
        request.wire = Wire::kUtf16;
        request.text = encoding::Utf16ToUtf8(body, encoding::ByteOrder::kLittle);
        break;
      case encoding::Encoding::kUtf16Be:
        if (body.starts_with("\xFE\xFF")) {
          body.remove_prefix(2);
        }
        request.wire = Wire::kUtf16;
        request.text = encoding::Utf16ToUtf8(body, encoding::ByteOrder::kBig);
        break;
      case encoding::Encoding::kWindows1252:
        request.text = encoding::Windows1252ToUtf8(body);
        break;
      case encoding::Encoding::kUtf8:
        if (body.starts_with("\xEF\xBB\xBF")) {
          body.remove_prefix(3);
        }
        request.text = encoding::Windows1252ToUtf8(encoding::Utf8ToWindows1252(body));
        break;
    }
  } catch (const encoding::Error&) {
    request.valid = false;  // an odd length, a pair cut off, invalid UTF-8 after a mark
    request.text.clear();
  }
  return request;
}

// `reply` (UTF-8) in the bytes and charset the server answers `wire` with. Every UTF-16 request
// is answered in little-endian without a mark, whatever order it came in: that is the only order
// the server is known to answer in, and a reader of charset=utf-16 without a mark takes it.
HttpReply Encoded(HttpReply reply, Wire wire) {
  if (wire == Wire::kUtf16) {
    reply.body = encoding::Utf8ToUtf16(reply.body, encoding::ByteOrder::kLittle);
    reply.content_type = "text/xml; charset=utf-16";
  } else {
    reply.body = encoding::Utf8ToWindows1252(reply.body);
    reply.content_type = "text/xml; charset=utf-8";
  }
  return reply;
}

}  // namespace

struct Service::Impl {
  explicit Impl(Options given) : options(std::move(given)), store(options.data_path) {
    if (options.companies.empty()) {
      options.companies.emplace_back(kDefaultCompany);
    }
    for (std::size_t i = 0; i < options.companies.size(); ++i) {
      const std::string& name = options.companies[i];
      if (Trim(name).empty()) {
        throw std::runtime_error("a company name must not be empty");
      }
      for (std::size_t j = 0; j < i; ++j) {
        if (EqualsNoCase(options.companies[j], name)) {
          throw std::runtime_error("company " + Quoted(name) + " is named twice");
        }
      }
    }
    Store::Transaction transaction(store);
    for (const std::string& name : options.companies) {
      company_ids.push_back(store.EnsureCompany(name));
      AddPredefinedMasters(store, company_ids.back());
    }
    transaction.Commit();
  }

  HttpReply Post(std::string_view body);
  HttpReply Export(const pugi::xml_node& envelope);
  HttpReply ListOfAccounts(const pugi::xml_node& statics);
  HttpReply Import(const pugi::xml_node& envelope);

  // The open company named `name` (case-insensitively); the current one for an empty name.
  std::optional<std::size_t> OpenCompany(std::string_view name) const {
    if (Trim(name).empty()) {
      return 0;
    }
    for (std::size_t i = 0; i < options.companies.size(); ++i) {
      if (EqualsNoCase(options.companies[i], name)) {
        return i;
      }
    }
    return std::nullopt;
  }

  Options options;
  std::mutex mutex;  // guards `store`
  Store store;
  std::vector<std::int64_t> company_ids;  // parallel to options.companies
};

HttpReply Service::Impl::Post(std::string_view body) {
  if (CountOf(body, '<') > kMaxMarkup) {
    return MessageReply(413,
                        "Request too large: more than " + std::to_string(kMaxMarkup) + " elements");
  }
  pugi::xml_document document;
  // pugixml never expands entities beyond the five predefined ones and character references; a
  // document type declaration is kept in the tree only so that it can be refused.
  // The body is UTF-8 by now, whatever its declaration says.
  if (!document.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_doctype,
                            pugi::encoding_utf8)) {
    return UnknownRequestReply();
  }
  for (const pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_doctype) {
      return UnknownRequestReply();
    }
  }
  const pugi::xml_node envelope = document.child("ENVELOPE");
  const std::string request = LeafText(envelope.child("HEADER").child("TALLYREQUEST"));
  const std::string_view kind = Trim(request);
  if (EqualsNoCase(kind, "Export Data") || EqualsNoCase(kind, "Export")) {
    return Export(envelope);
  }
  if (EqualsNoCase(kind, "Import Data") || EqualsNoCase(kind, "Import")) {
    return Import(envelope);
  }
  return UnknownRequestReply();
}

HttpReply Service::Impl::Export(const pugi::xml_node& envelope) {
  if (IsCollectionExport(envelope)) {
    const std::optional<CollectionRequest> request = ReadCollectionRequest(envelope);
    if (!request) {
      return UnknownRequestReply();
    }
    if (request->type == "COMPANY") {
      return CompanyCollectionReply(options.companies);
    }
    const std::optional<std::size_t> company = OpenCompany(request->company);
    if (!company) {
      return LineErrorReply(CompanyNotOpen(request->company));
    }
    const std::lock_guard lock(mutex);
    return CollectionReply(store, company_ids[*company], *request);
  }
  // A report comes in two forms: the classic one names it in BODY/EXPORTDATA/REQUESTDESC, the
  // versioned one (HEADER/TYPE "Data") in HEADER/ID, with its variables in BODY/DESC.
  const pugi::xml_node header = envelope.child("HEADER");
  const bool versioned = EqualsNoCase(Trim(LeafText(header.child("TYPE"))), "Data");
  const pugi::xml_node description =
      versioned ? envelope.child("BODY").child("DESC")
                : envelope.child("BODY").child("EXPORTDATA").child("REQUESTDESC");
  const std::string report_text =
      LeafText(versioned ? header.child("ID") : description.child("REPORTNAME"));
  const std::string_view report = Trim(report_text);
  if (report.empty()) {
    return UnknownRequestReply();
  }
  if (EqualsNoCase(report, "List of Companies")) {
    pugi::xml_document document;
    pugi::xml_node list = document.append_child("ENVELOPE").append_child("COMPANYNAME.LIST");
    for (const std::string& company : options.companies) {
      list.append_child("COMPANYNAME").text().set(company.c_str());
    }
    return XmlReply(200, document);
  }
  if (EqualsNoCase(report, "List of Accounts")) {
    return ListOfAccounts(description.child("STATICVARIABLES"));
  }
  return LineErrorReply(ReportNotFound(report));
}

HttpReply Service::Impl::ListOfAccounts(const pugi::xml_node& statics) {
  const std::string company_name = LeafText(statics.child("SVCURRENTCOMPANY"));
  const std::optional<std::size_t> company = OpenCompany(company_name);
  if (!company) {
    return LineErrorReply(CompanyNotOpen(company_name));
  }
  const std::string type_text = LeafText(statics.child("ACCOUNTTYPE"));
  const std::string_view type = Trim(type_text);
  std::vector<const Kind*> kinds;
  for (const Kind& kind : kKinds) {
    const bool accounts = kind.element == "GROUP" || kind.element == "LEDGER";
    if (type.empty() || EqualsNoCase(type, "All Masters") || EqualsNoCase(type, kind.plural) ||
        (accounts && EqualsNoCase(type, "All Accounts")) ||
        (!accounts && EqualsNoCase(type, "All Inventory Masters"))) {
      kinds.push_back(&kind);
    }
  }
  if (kinds.empty()) {
    return UnknownRequestReply();
  }
  pugi::xml_document document;
  pugi::xml_node root = document.append_child("ENVELOPE");
  root.append_child("SVCURRENTCOMPANY").text().set(options.companies[*company].c_str());
  if (!type.empty()) {
    root.append_child("ACCOUNTTYPE").text().set(std::string(type).c_str());
  }
  pugi::xml_node message = root.append_child("TALLYMESSAGE");
  const std::lock_guard lock(mutex);
  for (const Kind* kind : kinds) {
    for (const MasterRecord& master : store.Masters(company_ids[*company], kind->element,
                                                    std::numeric_limits<std::int64_t>::max())) {
      pugi::xml_node element = message.append_child(std::string(kind->element).c_str());
      element.append_attribute("NAME").set_value(master.name.c_str());
      // Rebuild the nesting from the stored paths; consecutive values under the same list
      // share one list element.
      for (const auto& [path, value] : master.values) {
        pugi::xml_node parent = element;
        std::string_view rest = path;
        for (std::size_t slash = rest.find('/'); slash != std::string_view::npos;
             slash = rest.find('/')) {
          const std::string part(rest.substr(0, slash));
          pugi::xml_node last = parent.last_child();
          parent = (last && part == last.name()) ? last : parent.append_child(part.c_str());
          rest.remove_prefix(slash + 1);
        }
        parent.append_child(std::string(rest).c_str()).text().set(value.c_str());
      }
      if (kind->element == "LEDGER" && !element.child("GSTREGISTRATIONTYPE")) {
        element.append_child("GSTREGISTRATIONTYPE").text().set(kGstMarker);
      }
    }
  }
  return GstReferencesInserted(XmlReply(200, document));
}

// Long: every object of an import applied and counted in one pass, clearer whole.
HttpReply Service::Impl::Import(const pugi::xml_node& envelope) {
  const pugi::xml_node import = envelope.child("BODY").child("IMPORTDATA");
  const pugi::xml_node description = import.child("REQUESTDESC");
  const std::string report = LeafText(description.child("REPORTNAME"));
  if (!import ||
      !(EqualsNoCase(Trim(report), "All Masters") || EqualsNoCase(Trim(report), "Vouchers"))) {
    return UnknownRequestReply();
  }
  Counters counters;
  const std::string company_name =
      LeafText(description.child("STATICVARIABLES").child("SVCURRENTCOMPANY"));
  const std::optional<std::size_t> company = OpenCompany(company_name);
  if (!company) {
    counters.Reject(CompanyNotOpen(company_name));
    return CountersReply(counters);
  }

  std::vector<pugi::xml_node> items;
  for (const pugi::xml_node child : import.child("REQUESTDATA").children()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    if (std::string_view(child.name()) != "TALLYMESSAGE") {
      counters.Reject("Cannot import " + Quoted(child.name()) + ": not inside a TALLYMESSAGE");
      continue;
    }
    for (const pugi::xml_node item : child.children()) {
      if (item.type() == pugi::node_element) {
        items.push_back(item);
      }
    }
  }
  if (items.empty() && counters.errors == 0) {
    counters.Reject("Nothing to import: no master or voucher in REQUESTDATA");
    return CountersReply(counters);
  }

  const std::int64_t company_id = company_ids[*company];
  const std::lock_guard lock(mutex);
  Store::Transaction transaction(store);
  for (const pugi::xml_node& item : items) {
    Store::Savepoint savepoint(store);
    try {
      const std::string_view name = item.name();
      Applied applied;
      if (name == "VOUCHER") {
        applied = ApplyVoucher(store, options.strict, company_id, item);
      } else if (const Kind* kind = FindKind(name)) {
        applied = ApplyMaster(store, options.strict, company_id, *kind, item);
      } else {
        throw Rejection("Cannot import " + Quoted(name) +
                        ": not a master or voucher this server knows");
      }
      savepoint.Release();
      switch (applied.outcome) {
        case Outcome::kCreated:
          ++counters.created;
          break;
        case Outcome::kAltered:
          ++counters.altered;
          break;
        case Outcome::kDeleted:
          ++counters.deleted;
          break;
      }
      if (applied.outcome != Outcome::kDeleted) {
        (applied.voucher ? counters.last_voucher_id : counters.last_master_id) = applied.id;
      }
    } catch (const Rejection& rejection) {
      counters.Reject(rejection.what());
    } catch (const ShapeException&) {
      ++counters.exceptions;
    }
  }
  transaction.Commit();
  return CountersReply(counters);
}

// ---------------------------------------------------------------------------------------------

Service::Service(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Service::~Service() = default;

HttpReply Service::Post(std::string_view body, std::string_view content_type) {
  // The one status other than 200: a body over the limit is refused unread, to protect the
  // stand-in. What the real server answers to one is unconfirmed.
  if (body.size() > kMaxRequestBytes) {
    return MessageReply(413, "Request too large: " + std::to_string(body.size()) +
                                 " bytes, the limit is " + std::to_string(kMaxRequestBytes));
  }
  // The probe is an empty body under any header; its answer is ASCII either way.
  if (Trim(body).empty()) {
    return ProbeReply();
  }
  const DecodedRequest request = DecodeRequest(body, content_type);
  if (!request.valid) {
    return Encoded(UnknownRequestReply(), request.wire);
  }
  try {
    return Encoded(impl_->Post(request.text), request.wire);
  } catch (const std::exception& failure) {
    return Encoded(
        MessageReply(500, std::string("The request could not be applied: ") + failure.what()),
        request.wire);
  }
}

HttpReply Service::Get(std::string_view accept) {
  if (accept.find("text/html") == std::string_view::npos) {
    return ProbeReply();
  }
  try {
    const std::lock_guard lock(impl_->mutex);
    std::vector<CompanyView> companies;
    for (std::size_t i = 0; i < impl_->options.companies.size(); ++i) {
      companies.push_back({impl_->options.companies[i], impl_->company_ids[i]});
    }
    return {200, "text/html; charset=utf-8", OverviewPage(impl_->store, companies)};
  } catch (const std::exception& failure) {
    return {500, "text/plain; charset=utf-8",
            std::string("The overview could not be read: ") + failure.what() + "\n"};
  }
}

const std::vector<std::string>& Service::companies() const {
  return impl_->options.companies;
}

}  // namespace lirvo::standin
