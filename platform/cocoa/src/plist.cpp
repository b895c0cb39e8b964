// Property lists as XML text: a writer and a bounded reader.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "cocoa/CoreFoundation.h"

namespace cocoa {
namespace {

constexpr int kMaxDepth = 64;
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Base64(const unsigned char* p, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; i += 3) {
    unsigned v = static_cast<unsigned>(p[i]) << 16;
    if (i + 1 < n) v |= static_cast<unsigned>(p[i + 1]) << 8;
    if (i + 2 < n) v |= p[i + 2];
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < n ? kBase64[(v >> 6) & 63] : '=';
    out += i + 2 < n ? kBase64[v & 63] : '=';
  }
  return out;
}

bool WriteValue(std::string& out, NSObject* value, int depth) {
  if (depth > kMaxDepth || !value) return false;
  std::string indent(static_cast<size_t>(depth), '\t');
  if (auto* s = dynamic_cast<NSString*>(value)) {
    out += indent + "<string>" + Escape(s->str()) + "</string>\n";
  } else if (auto* n = dynamic_cast<NSNumber*>(value)) {
    if (n->isBoolean()) {
      out += indent + (n->boolValue() ? "<true/>\n" : "<false/>\n");
    } else if (n->isReal()) {
      char text[64];
      snprintf(text, sizeof text, "%.17g", n->doubleValue());
      out += indent + "<real>" + text + "</real>\n";
    } else {
      out += indent + "<integer>" + std::to_string(n->longLongValue()) + "</integer>\n";
    }
  } else if (auto* d = dynamic_cast<NSData*>(value)) {
    out += indent + "<data>" + Base64(static_cast<const unsigned char*>(d->bytes()), d->length()) + "</data>\n";
  } else if (auto* a = dynamic_cast<NSArray*>(value)) {
    out += indent + "<array>\n";
    for (NSUInteger i = 0; i < a->count(); ++i)
      if (!WriteValue(out, a->objectAtIndex(i), depth + 1)) return false;
    out += indent + "</array>\n";
  } else if (auto* dict = dynamic_cast<NSDictionary*>(value)) {
    out += indent + "<dict>\n";
    for (const auto& [k, v] : dict->entries()) {
      auto* key = dynamic_cast<NSString*>(k);
      if (!key) return false;
      out += indent + "\t<key>" + Escape(key->str()) + "</key>\n";
      if (!WriteValue(out, v, depth + 1)) return false;
    }
    out += indent + "</dict>\n";
  } else {
    return false;
  }
  return true;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  NSObject* Document() {
    SkipProlog();
    std::string tag;
    if (!NextTag(tag) || tag.rfind("plist", 0) != 0) return nullptr;
    NSObject* root = Value(0);
    std::string end;
    if (!root || !NextTag(end) || end != "/plist") {
      if (root) root->release();
      return nullptr;
    }
    return root;
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && strchr(" \t\r\n", text_[pos_])) ++pos_;
  }
  // Skips "<?xml ...?>", "<!DOCTYPE ...>" and comments.
  void SkipProlog() {
    for (;;) {
      SkipBlanks();
      if (text_.compare(pos_, 2, "<?") == 0 || text_.compare(pos_, 2, "<!") == 0) {
        size_t end = text_.compare(pos_, 4, "<!--") == 0 ? text_.find("-->", pos_) : text_.find('>', pos_);
        if (end == std::string_view::npos) {
          pos_ = text_.size();
          return;
        }
        pos_ = end + (text_[end] == '-' ? 3 : 1);
      } else {
        return;
      }
    }
  }
  // The next tag's inside ("dict", "/dict", "true/"); false at the end or on text outside tags.
  bool NextTag(std::string& tag) {
    SkipProlog();
    if (pos_ >= text_.size() || text_[pos_] != '<') return false;
    size_t end = text_.find('>', pos_);
    if (end == std::string_view::npos) return false;
    tag.assign(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    return true;
  }
  bool PeekEnd(std::string_view name) {
    SkipProlog();
    return text_.compare(pos_, 2, "</") == 0 && text_.compare(pos_ + 2, name.size(), name) == 0;
  }
  // Text up to "</name>", with entities decoded; the end tag is consumed.
  bool Text(std::string_view name, std::string& out) {
    std::string end = "</" + std::string(name) + ">";
    size_t stop = text_.find(end, pos_);
    if (stop == std::string_view::npos) return false;
    std::string_view raw = text_.substr(pos_, stop - pos_);
    pos_ = stop + end.size();
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        out += raw[i];
        continue;
      }
      size_t semi = raw.find(';', i);
      if (semi == std::string_view::npos || semi - i > 8) return false;
      std::string_view entity = raw.substr(i + 1, semi - i - 1);
      if (entity == "amp") out += '&';
      else if (entity == "lt") out += '<';
      else if (entity == "gt") out += '>';
      else if (entity == "quot") out += '"';
      else if (entity == "apos") out += '\'';
      else return false;
      i = semi;
    }
    return true;
  }

  NSObject* Value(int depth) {
    if (depth > kMaxDepth) return nullptr;
    std::string tag;
    if (!NextTag(tag)) return nullptr;
    std::string text;
    if (tag == "string") {
      if (!Text("string", text)) return nullptr;
      return alloc<NSString>()->initWithUTF8String(text.c_str());
    }
    if (tag == "string/") return alloc<NSString>()->init();
    if (tag == "integer") {
      if (!Text("integer", text)) return nullptr;
      char* end = nullptr;
      long long v = strtoll(text.c_str(), &end, 10);
      if (end == text.c_str()) return nullptr;
      return alloc<NSNumber>()->initWithLongLong(v);
    }
    if (tag == "real") {
      if (!Text("real", text)) return nullptr;
      return alloc<NSNumber>()->initWithDouble(strtod(text.c_str(), nullptr));
    }
    if (tag == "true/") return alloc<NSNumber>()->initWithBool(YES);
    if (tag == "false/") return alloc<NSNumber>()->initWithBool(NO);
    if (tag == "data") {
      if (!Text("data", text)) return nullptr;
      std::string bytes;
      unsigned v = 0;
      int bits = 0;
      for (char c : text) {
        const char* at = strchr(kBase64, c);
        if (!at || !c) continue;  // blanks and '=' padding
        v = (v << 6) | static_cast<unsigned>(at - kBase64);
        bits += 6;
        if (bits >= 8) {
          bits -= 8;
          bytes += static_cast<char>((v >> bits) & 0xFF);
        }
      }
      return alloc<NSData>()->initWithBytes_length(bytes.data(), bytes.size());
    }
    if (tag == "array/") return alloc<NSMutableArray>()->init();
    if (tag == "dict/") return alloc<NSMutableDictionary>()->init();
    if (tag == "array") {
      NSMutableArray* array = alloc<NSMutableArray>()->init();
      while (!PeekEnd("array")) {
        NSObject* item = Value(depth + 1);
        if (!item) {
          array->release();
          return nullptr;
        }
        array->addObject(item);
        item->release();
      }
      NextTag(tag);
      return array;
    }
    if (tag == "dict") {
      NSMutableDictionary* dict = alloc<NSMutableDictionary>()->init();
      while (!PeekEnd("dict")) {
        std::string key;
        if (!NextTag(tag) || tag != "key" || !Text("key", key)) {
          dict->release();
          return nullptr;
        }
        NSObject* item = Value(depth + 1);
        if (!item) {
          dict->release();
          return nullptr;
        }
        NSString* k = alloc<NSString>()->initWithUTF8String(key.c_str());
        dict->setObject_forKey(item, k);
        k->release();
        item->release();
      }
      NextTag(tag);
      return dict;
    }
    return nullptr;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::string WritePropertyList(CFPropertyListRef root) {
  std::string body;
  if (!WriteValue(body, root, 0)) return {};
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body + "</plist>\n";
}

CFPropertyListRef ReadPropertyList(const std::string& text) { return Reader(text).Document(); }

}  // namespace cocoa
