#include "point_table.h"

#include <cctype>

#include "errors.h"
#include "text_numbers.h"

namespace vacli {

namespace {

std::string lower_trimmed(const std::string &text) {
  std::string out = trimmed(text);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// An odd number of quotes leaves a quoted field open: a doubled quote
// inside one counts two.
bool quote_open(const std::string &text) {
  std::size_t quotes = 0;
  for (char c : text) quotes += c == '"' ? 1 : 0;
  return quotes % 2 == 1;
}

}  // namespace

std::string trimmed(const std::string &text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string strip_line_end(const std::string &line) {
  return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

std::vector<std::string> csv_fields(const std::string &record) {
  const std::string text = strip_line_end(record);
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' && quoted && i + 1 < text.size() && text[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

bool next_csv_record(LineReader &input, std::string *record) {
  if (!input.next(record)) return false;
  const long first = input.line_number();
  std::string line;
  while (quote_open(*record)) {
    if (!input.next(&line))
      fail(input.name() + ":" + std::to_string(first), "a quoted field opened on this row is never closed");
    *record += '\n' + line;
  }
  return true;
}

TableColumns parse_table_header(const std::string &record, const std::string &where) {
  const std::vector<std::string> names = csv_fields(record);
  TableColumns columns;
  columns.count = names.size();
  std::size_t *slots[3] = {&columns.x, &columns.y, &columns.z};
  const char axes[3] = {'x', 'y', 'z'};
  for (int a = 0; a < 3; ++a) {
    std::size_t found = 0;
    for (std::size_t c = 0; c < names.size(); ++c)
      if (lower_trimmed(names[c]) == std::string(1, axes[a])) {
        *slots[a] = c;
        ++found;
      }
    if (found != 1)
      fail(where, std::string("a point table needs one column named '") + axes[a] +
                      "' (in any case) in its header row; found " + std::to_string(found));
  }
  return columns;
}

PointLine parse_table_row(const std::string &record, const TableColumns &columns) {
  PointLine result;
  if (trimmed(record).empty()) {
    result.skip = true;
    return result;
  }
  const std::vector<std::string> fields = csv_fields(record);
  if (fields.size() != columns.count) {
    result.problem = "expected " + std::to_string(columns.count) + " fields as in the header row, found " +
                     std::to_string(fields.size());
    return result;
  }
  const std::size_t at[3] = {columns.x, columns.y, columns.z};
  for (int a = 0; a < 3; ++a) {
    const std::string field = trimmed(fields[at[a]]);
    const std::optional<double> v = to_double(field);
    if (!v) {
      result.problem = quoted(field) + " is not a number";
      return result;
    }
    result.point[static_cast<std::size_t>(a)] = *v;
  }
  result.text = strip_line_end(record);
  return result;
}

}  // namespace vacli
