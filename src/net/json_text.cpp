#include "net/json_text.h"

#include <json/reader.h>
#include <json/writer.h>
#include <exception>
#include <memory>
#include <sstream>

namespace net {

namespace {

const Json::StreamWriterBuilder& compactBuilder() {
    static const Json::StreamWriterBuilder builder = [] {
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        b["commentStyle"] = "None";
        b["emitUTF8"] = true;
        b["enableYAMLCompatibility"] = false;
        b["dropNullPlaceholders"] = false;
        return b;
    }();
    return builder;
}

const Json::CharReaderBuilder& readerBuilder() {
    static const Json::CharReaderBuilder builder = [] {
        Json::CharReaderBuilder b;
        b["collectComments"] = false;
        b["allowComments"] = false;
        b["failIfExtra"] = true;
        b["rejectDupKeys"] = false;
        b["stackLimit"] = 256;
        return b;
    }();
    return builder;
}

}  // namespace

std::string writeCompact(const Json::Value& value) {
    // jsoncpp keeps object members in a sorted map, so the text has its keys
    // in ascending order. One writer per thread saves building it per call.
    thread_local std::unique_ptr<Json::StreamWriter> writer(compactBuilder().newStreamWriter());
    std::ostringstream out;
    writer->write(value, &out);
    std::string text = std::move(out).str();
    text.push_back('\n');
    return text;
}

bool parseJson(std::string_view text, Json::Value& out) {
    thread_local std::unique_ptr<Json::CharReader> reader(readerBuilder().newCharReader());
    std::string errors;
    out = Json::Value();
    // jsoncpp reports some bad input (nesting past stackLimit, for one) by
    // throwing rather than by returning false; text from a peer must never
    // take the process down, so both count as "not JSON".
    try {
        if (reader->parse(text.data(), text.data() + text.size(), &out, &errors)) return true;
    } catch (const std::exception&) {
        // Start the next parse from a fresh reader, whatever state this one kept.
        reader.reset(readerBuilder().newCharReader());
    }
    out = Json::Value();
    return false;
}

}  // namespace net
