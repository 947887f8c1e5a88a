#include "cli/exporters.h"

#include <cmath>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "core/text.h"

namespace veltrane {

std::string HexOf(const std::string& bytes) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string ShortestDouble(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
  for (int digits = 15; digits <= 17; ++digits) {
    std::string s = Format("%.*g", digits, value);
    if (std::strtod(s.c_str(), nullptr) == value || digits == 17) {
      if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
      return s;
    }
  }
  return "0.0";
}

std::string SqlLiteral(const RecoveredValue& value) {
  switch (value.kind) {
    case RecoveredValue::Kind::Integer:
      return Format("%lld", static_cast<long long>(value.integer));
    case RecoveredValue::Kind::Real:
      if (std::isnan(value.real)) return "NULL";
      if (std::isinf(value.real)) return value.real > 0 ? "1e999" : "-1e999";
      return ShortestDouble(value.real);
    case RecoveredValue::Kind::Text: {
      if (value.bytes.find('\0') != std::string::npos) return "CAST(X'" + HexOf(value.bytes) + "' AS TEXT)";
      std::string out = "'";
      for (char c : value.bytes) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
      }
      return out + "'";
    }
    case RecoveredValue::Kind::Blob:
      return "X'" + HexOf(value.bytes) + "'";
    case RecoveredValue::Kind::Null:
    case RecoveredValue::Kind::Missing:
      break;
  }
  return "NULL";
}

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out + "\"";
}

// ---- SQL ----

void SqlDumpWriter::BeginTable(const std::string& tableName, const std::vector<std::string>& columns,
                               bool withRowid) {
  prefix_ = "INSERT INTO " + tableName;
  columns_ = columns;
  withRowid_ = withRowid;
}

bool SqlDumpWriter::WriteRow(const RecoveredRow& row) {
  std::string names, values;
  if (withRowid_) {
    names = "_rowid_";
    values = Format("%lld", static_cast<long long>(row.rowid));
  }
  for (size_t i = 0; i < row.values.size() && i < columns_.size(); ++i) {
    if (row.values[i].kind == RecoveredValue::Kind::Missing) continue;
    if (!names.empty()) names += ",", values += ",";
    names += columns_[i];
    values += SqlLiteral(row.values[i]);
  }
  if (names.empty()) return false;
  const std::string line = prefix_ + "(" + names + ") VALUES(" + values + ");\n";
  std::fwrite(line.data(), 1, line.size(), out_);
  ++rows_;
  return true;
}

// ---- CSV ----

void CsvWriter::Field(const std::string& text, bool first) {
  if (!first) std::fputc(',', out_);
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    std::fwrite(text.data(), 1, text.size(), out_);
    return;
  }
  std::string quoted = "\"";
  for (char c : text) {
    quoted.push_back(c);
    if (c == '"') quoted.push_back('"');
  }
  quoted.push_back('"');
  std::fwrite(quoted.data(), 1, quoted.size(), out_);
}

void CsvWriter::WriteHeader(const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) Field(names[i], i == 0);
  std::fputs("\r\n", out_);
  columns_ = names.size();
}

bool CsvWriter::WriteRow(const RecoveredRow& row) {
  for (size_t i = 0; i < row.values.size(); ++i) {
    const RecoveredValue& v = row.values[i];
    std::string text;
    switch (v.kind) {
      case RecoveredValue::Kind::Integer: text = Format("%lld", static_cast<long long>(v.integer)); break;
      case RecoveredValue::Kind::Real: text = ShortestDouble(v.real); break;
      case RecoveredValue::Kind::Text: text = v.bytes; break;
      case RecoveredValue::Kind::Blob: text = HexOf(v.bytes); break;
      default: break;
    }
    Field(text, i == 0);
  }
  for (size_t i = row.values.size(); i < columns_; ++i) Field("", i == 0);
  std::fputs("\r\n", out_);
  ++rows_;
  return true;
}

// ---- JSON ----

namespace {
nlohmann::json JsonValue(const RecoveredValue& v) {
  switch (v.kind) {
    case RecoveredValue::Kind::Integer: return v.integer;
    case RecoveredValue::Kind::Real:
      if (!std::isfinite(v.real)) return {{"real", ShortestDouble(v.real)}};
      return v.real;
    case RecoveredValue::Kind::Text: return v.bytes;
    case RecoveredValue::Kind::Blob: return {{"blob", HexOf(v.bytes)}};
    case RecoveredValue::Kind::Missing: return {{"missing", true}};
    case RecoveredValue::Kind::Null: break;
  }
  return nullptr;
}
}  // namespace

bool JsonRowsWriter::WriteRow(const RecoveredRow& row) {
  nlohmann::json values = nlohmann::json::array();
  for (const RecoveredValue& v : row.values) values.push_back(JsonValue(v));
  for (size_t i = row.values.size(); i < columns_; ++i) values.push_back(JsonValue(RecoveredValue()));
  const nlohmann::json element = {{"rowid", row.rowid}, {"values", values}};
  const std::string text =
      (rows_ ? ",\n    " : "\n    ") + element.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), out_);
  ++rows_;
  return true;
}

}  // namespace veltrane
