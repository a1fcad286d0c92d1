#include "tools/pbbctl/pbbctl_listing.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <utility>

#include <nlohmann/json.hpp>

namespace pbbctl {

namespace {

using Field = std::pair<std::string_view, std::string_view>;

std::string number(uint64_t v)
{
    char s[24];
    auto r = std::to_chars(s, s + sizeof s, v);
    return std::string(s, r.ptr);
}

std::string jsonString(const std::string& s) { return nlohmann::json(s).dump(); }

// One element of a list whose elements stand at `indent` spaces: after a
// comma when it is not the first, then the object with its fields one
// level further in, in the order given.
void appendObject(std::string& list, size_t& n, size_t indent, std::initializer_list<Field> fields)
{
    if (n++ > 0) list += ",\n";
    list.append(indent, ' ');
    list += "{\n";
    bool first = true;
    for (const auto& [key, value] : fields) {
        if (!first) list += ",\n";
        first = false;
        list.append(indent + 2, ' ');
        list += '"';
        list += key;
        list += "\": ";
        list += value;
    }
    list += '\n';
    list.append(indent, ' ');
    list += '}';
}

// A list member of the document: "[]" when empty.
void appendList(std::string& doc, std::string_view key, const std::string& elements, bool last)
{
    doc += "  \"";
    doc += key;
    doc += "\": ";
    if (elements.empty()) {
        doc += "[]";
    } else {
        doc += "[\n";
        doc += elements;
        doc += "\n  ]";
    }
    doc += last ? "\n" : ",\n";
}

}  // namespace

LearnedListing::LearnedListing(bool json, std::function<std::string(uint32_t)> label)
    : json_(json), labelOf_(std::move(label))
{
}

const LearnedListing::Label& LearnedListing::label(uint32_t ifIndex)
{
    auto it = labels_.find(ifIndex);
    if (it == labels_.end()) {
        std::string name = labelOf_(ifIndex);
        std::string q = json_ ? jsonString(name) : std::string();
        it = labels_.emplace(ifIndex, Label{std::move(name), std::move(q)}).first;
    }
    return it->second;
}

const std::string& LearnedListing::quotedVsi(const std::string& name)
{
    if (vsiQuoted_.empty() || name != vsiName_) {
        vsiName_ = name;
        vsiQuoted_ = jsonString(name);
    }
    return vsiQuoted_;
}

void LearnedListing::entry(const proto::UcMsg& e)
{
    const Label& port = label(e.ifIndex);
    if (json_) {
        // "xx:xx:xx:xx:xx:xx", as formatMac writes it, in quotes.
        static constexpr char kHex[] = "0123456789abcdef";
        char mac[19];
        mac[0] = mac[18] = '"';
        for (size_t i = 0; i < 6; ++i) {
            mac[1 + 3 * i] = kHex[e.bmac[i] >> 4];
            mac[2 + 3 * i] = kHex[e.bmac[i] & 0xF];
            if (i < 5) mac[3 + 3 * i] = ':';
        }
        appendObject(learned_, count_, 4,
                     {{"bmac", std::string_view(mac, sizeof mac)},
                      {"bvlan", number(e.bvlan)},
                      {"ifIndex", number(e.ifIndex)},
                      {"interface", port.quoted},
                      {"isid", number(e.isid)},
                      {"vsi", quotedVsi(e.vsiName)},
                      {"vsiIndex", number(e.vsiIndex)}});
    } else {
        rows_.push_back({e.vsiName, std::to_string(e.isid), std::to_string(e.bvlan), proto::formatMac(e.bmac), port.name});
        ++count_;
    }
}

void LearnedListing::walked(const proto::McMsg& vsi)
{
    const size_t n = count_ - mark_;
    mark_ = count_;
    markBytes_ = learned_.size();
    if (!json_) return;
    appendObject(walkedJson_, walked_, 4,
                 {{"bvlan", number(vsi.bvlan)},
                  {"count", number(n)},
                  {"isid", number(vsi.isid)},
                  {"vsi", jsonString(vsi.vsiName)},
                  {"vsiIndex", number(vsi.vsiIndex)}});
}

void LearnedListing::skipped(const proto::McMsg& vsi, const std::string& why)
{
    count_ = mark_;
    learned_.resize(markBytes_);
    rows_.resize(std::min(rows_.size(), count_));
    if (!json_) return;
    appendObject(skippedJson_, skipped_, 4,
                 {{"bvlan", number(vsi.bvlan)},
                  {"isid", number(vsi.isid)},
                  {"reason", jsonString(why)},
                  {"vsi", jsonString(vsi.vsiName)},
                  {"vsiIndex", number(vsi.vsiIndex)}});
}

std::string LearnedListing::json() const
{
    std::string doc;
    doc.reserve(learned_.size() + walkedJson_.size() + skippedJson_.size() + 64);
    doc += "{\n  \"count\": " + number(count_) + ",\n";
    appendList(doc, "learned", learned_, false);
    appendList(doc, "skipped", skippedJson_, false);
    appendList(doc, "vsis", walkedJson_, true);
    doc += '}';
    return doc;
}

}  // namespace pbbctl
