#include "platform/dbm/dbm_dump.h"

#include "platform/dbm/dbm_records.h"
#include "platform/dbm/dbm_store.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace plat::dbm {
namespace {

namespace fs = std::filesystem;

nlohmann::ordered_json keyJson(const std::string& key, const KeyEntry& e)
{
    nlohmann::ordered_json k;
    k["key"] = key;
    k["value_type"] = e.valueType;
    if (auto r = decodeKey(key)) k["key_fields"] = toJson(*r);
    if (e.kind == Kind::Binary) {
        k["kind"] = "binary";
        k["length"] = e.value.size();
        k["hex"] = hexOf(e.value);
        if (auto r = decodeValue(key, e.value)) k["record"] = toJson(*r);
    } else {
        k["kind"] = "sort-list";
        k["element_length"] = e.elemLen;
        k["sort"] = {e.desc.kind, e.desc.offset, e.desc.length, e.desc.compare, e.desc.flags};
        nlohmann::ordered_json elems = nlohmann::ordered_json::array();
        for (const auto& [field, elem] : e.elems) {
            nlohmann::ordered_json x;
            x["hex"] = hexOf(elem);
            if (auto r = decodeElement(key, elem)) x["record"] = toJson(*r);
            elems.push_back(std::move(x));
        }
        k["elements"] = std::move(elems);
    }
    return k;
}

std::vector<fs::path> storeFiles(const std::string& root)
{
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator g(root, ec), end; !ec && g != end; g.increment(ec)) {
        if (!g->is_directory(ec)) continue;
        std::error_code ec2;
        for (fs::directory_iterator f(g->path(), ec2), fend; !ec2 && f != fend; f.increment(ec2))
            if (f->path().extension() == ".db" && f->is_regular_file(ec2)) out.push_back(f->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

Dump dumpStores(const std::string& root)
{
    Dump d;
    d.json["root"] = root;
    d.json["stores"] = nlohmann::ordered_json::array();
    for (const auto& path : storeFiles(root)) {
        d.anyStore = true;
        nlohmann::ordered_json s;
        s["file"] = path.string();
        s["group"] = path.parent_path().filename().string();
        StoreSpec spec;
        spec.path = path.string();
        spec.writable = false;
        spec.create = false;
        std::unique_ptr<StoreFile> file;
        std::vector<Image> images;
        std::string error;
        if (StoreFile::open(spec, file, images, error) != 0) {
            s["error"] = error;
            d.anyError = true;
            d.json["stores"].push_back(std::move(s));
            continue;
        }
        nlohmann::ordered_json dbs = nlohmann::ordered_json::array();
        for (size_t i = 0; i < images.size(); ++i) {
            nlohmann::ordered_json db;
            db["name"] = file->names()[i];
            nlohmann::ordered_json keys = nlohmann::ordered_json::array();
            for (const auto& [key, entry] : images[i].keys()) keys.push_back(keyJson(key, entry));
            db["keys"] = std::move(keys);
            dbs.push_back(std::move(db));
        }
        s["databases"] = std::move(dbs);
        d.json["stores"].push_back(std::move(s));
    }
    return d;
}

std::string dumpText(const Dump& d)
{
    auto str = [](const nlohmann::ordered_json& j) {
        return j.is_string() ? j.get<std::string>() : j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    };
    auto fields = [&](const nlohmann::ordered_json& rec) {
        std::string out;
        for (auto it = rec.begin(); it != rec.end(); ++it) {
            if (it.key() == "layout") continue;
            if (!out.empty()) out += ' ';
            out += it.key() + "=" + it.value().dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        }
        return out;
    };
    std::string out;
    if (!d.anyStore) return "no database store under " + str(d.json["root"]) + "\n";
    for (const auto& s : d.json["stores"]) {
        out += "store " + str(s["file"]) + " (group " + str(s["group"]) + ")\n";
        if (s.contains("error")) {
            out += "  unreadable: " + str(s["error"]) + "\n";
            continue;
        }
        for (const auto& db : s["databases"]) {
            size_t n = db["keys"].size();
            out += "  database " + str(db["name"]) + ": " + std::to_string(n) + (n == 1 ? " key\n" : " keys\n");
            for (const auto& k : db["keys"]) {
                out += "    key " + k["key"].dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
                       " type " + str(k["value_type"]);
                if (k["kind"] == "binary") {
                    out += " binary " + str(k["length"]) + " bytes\n";
                    if (k.contains("record")) out += "      " + str(k["record"]["layout"]) + ": " + fields(k["record"]) + "\n";
                    else out += "      hex " + str(k["hex"]) + "\n";
                } else {
                    const auto& so = k["sort"];
                    out += " sort list of " + std::to_string(k["elements"].size()) + " x " + str(k["element_length"]) +
                           " bytes (sort " + str(so[0]) + "," + str(so[1]) + "," + str(so[2]) + "," + str(so[3]) +
                           "," + str(so[4]) + ")\n";
                    for (const auto& x : k["elements"]) {
                        if (x.contains("record")) out += "      " + fields(x["record"]) + "\n";
                        else out += "      hex " + str(x["hex"]) + "\n";
                    }
                }
            }
        }
    }
    return out;
}

}  // namespace plat::dbm
