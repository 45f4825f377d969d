#include "core/phone_access.h"

#include <algorithm>
#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <memory>

namespace core {

namespace {

// A damaged or hand-edited list reads as the entries that are well formed.
std::vector<ApprovedPhone> parseApproved(const std::string& text) {
    std::vector<ApprovedPhone> out;
    if (text.empty()) return out;
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors) || !root.isArray())
        return out;
    for (const Json::Value& item : root) {
        if (!item.isObject() || !item["id"].isString()) continue;
        ApprovedPhone phone;
        phone.identity = item["id"].asString();
        if (item["tag"].isString()) phone.tag = item["tag"].asString();
        if (phone.identity.empty()) continue;
        const bool seen = std::any_of(out.begin(), out.end(),
                                      [&](const ApprovedPhone& p) { return p.identity == phone.identity; });
        if (!seen) out.push_back(std::move(phone));
    }
    return out;
}

}  // namespace

bool AccessSettings::watchOnly() { return store_.getInt(setting::SET, kWatchOnly, 1) != 0; }

bool AccessSettings::setWatchOnly(bool on) { return store_.setInt(setting::SET, kWatchOnly, on ? 1 : 0); }

bool AccessSettings::approvalRequired() { return store_.getInt(setting::SET, kApprovePhones, 0) != 0; }

bool AccessSettings::setApprovalRequired(bool on) {
    return store_.setInt(setting::SET, kApprovePhones, on ? 1 : 0);
}

std::vector<ApprovedPhone> AccessSettings::approvedPhones() {
    return parseApproved(store_.getString(setting::SET, kApprovedPhones, ""));
}

bool AccessSettings::isApproved(const std::string& identity) {
    if (identity.empty()) return false;
    const auto phones = approvedPhones();
    return std::any_of(phones.begin(), phones.end(),
                       [&](const ApprovedPhone& p) { return p.identity == identity; });
}

bool AccessSettings::approve(const std::string& identity, const std::string& tag) {
    if (identity.empty()) return false;
    auto phones = approvedPhones();
    phones.erase(std::remove_if(phones.begin(), phones.end(),
                                [&](const ApprovedPhone& p) { return p.identity == identity; }),
                 phones.end());
    phones.push_back({identity, tag});
    if (phones.size() > kMaxApproved) phones.erase(phones.begin(), phones.end() - kMaxApproved);
    return store(phones);
}

bool AccessSettings::removeApproved(const std::string& identity) {
    auto phones = approvedPhones();
    const auto end = std::remove_if(phones.begin(), phones.end(),
                                    [&](const ApprovedPhone& p) { return p.identity == identity; });
    if (end == phones.end()) return false;
    phones.erase(end, phones.end());
    return store(phones);
}

bool AccessSettings::store(const std::vector<ApprovedPhone>& phones) {
    Json::Value root(Json::arrayValue);
    for (const ApprovedPhone& p : phones) {
        Json::Value item(Json::objectValue);
        item["id"] = p.identity;
        item["tag"] = p.tag;
        root.append(item);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return store_.setString(setting::SET, kApprovedPhones, Json::writeString(builder, root));
}

}  // namespace core
