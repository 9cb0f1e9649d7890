// A small streaming JSON writer for the tools' machine-readable output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : m_out(out) {}

  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }

  // Names a member of the enclosing object; the value call follows.
  void Key(const char* name) {
    Separate();
    Quoted(name);
    m_out += ": ";
    m_afterKey = true;
  }

  void String(const char* s) {
    Separate();
    Quoted(s);
  }

 private:
  void Quoted(const char* s) {
    m_out += '"';
    for (const char* p = s ? s : ""; *p; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      switch (c) {
        case '"': m_out += "\\\""; break;
        case '\\': m_out += "\\\\"; break;
        case '\n': m_out += "\\n"; break;
        case '\r': m_out += "\\r"; break;
        case '\t': m_out += "\\t"; break;
        default:
          if (c < 0x20 || c >= 0x7F) {
            // Content names are bytes in an unknown code page: keep them as
            // escaped Latin-1 so the output is always valid JSON.
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            m_out += buf;
          } else {
            m_out += char(c);
          }
      }
    }
    m_out += '"';
  }

 public:
  void Int(int64_t v) {
    Separate();
    m_out += std::to_string(v);
  }
  void Uint(uint64_t v) {
    Separate();
    m_out += std::to_string(v);
  }
  void Real(double v) {
    Separate();
    if (v != v || v > 1e308 || v < -1e308) {  // JSON has no NaN or infinity
      m_out += "null";
      return;
    }
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%.9g", v);
    m_out += buf;
  }
  void Bool(bool v) {
    Separate();
    m_out += v ? "true" : "false";
  }
  void Null() {
    Separate();
    m_out += "null";
  }

  // Shorthands for members.
  void Member(const char* k, const char* v) { Key(k), String(v); }
  void Member(const char* k, int64_t v) { Key(k), Int(v); }
  void MemberU(const char* k, uint64_t v) { Key(k), Uint(v); }
  void MemberReal(const char* k, double v) { Key(k), Real(v); }
  void MemberBool(const char* k, bool v) { Key(k), Bool(v); }
  void MemberReals(const char* k, const float* v, int n) {
    Key(k);
    BeginArray();
    for (int i = 0; i < n; ++i) Real(v[i]);
    EndArray();
  }

 private:
  void Separate() {
    if (m_afterKey) {
      m_afterKey = false;
      return;
    }
    if (!m_first.empty()) {
      if (!m_first.back()) m_out += ", ";
      m_first.back() = false;
    }
  }
  void Open(char c) {
    Separate();
    m_out += c;
    m_first.push_back(true);
  }
  void Close(char c) {
    m_first.pop_back();
    m_out += c;
  }

  std::string& m_out;
  std::vector<bool> m_first;
  bool m_afterKey = false;
};
