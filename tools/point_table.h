// CSV point tables as R, pandas and spreadsheets write them (RFC 4180):
// fields separated by commas, any of them in double quotes, where a quote
// is written twice and commas and line breaks are part of the field.
#ifndef VOLACCESS_TOOLS_POINT_TABLE_H
#define VOLACCESS_TOOLS_POINT_TABLE_H

#include <cstddef>
#include <string>
#include <vector>

#include "line_reader.h"
#include "matrix.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

// One line of a point file, or one row of a table: blank ones (and in a
// point file comments) are skipped; any other must hold a point.
struct PointLine {
  bool skip = false;
  Vec3 point{};
  std::string text;     // the numbers as written, or the table's row as it stands
  std::string problem;  // empty when the line is good
};

// The text of a row without a Windows line end, so that columns appended
// to it stay on the row.
std::string strip_line_end(const std::string &line);

// The values of a CSV record's fields: quotes taken off, doubled quotes
// made single.
std::vector<std::string> csv_fields(const std::string &record);

// Reads the next record of a table into *record: a line, joined with the
// lines that follow while a quoted field is open. False at the end of the
// input; a quoted field still open there is an Error naming the record's
// first line.
bool next_csv_record(LineReader &input, std::string *record);

// The columns of a CSV point table: where x, y and z are (named so in any
// case), and how many fields each row has.
struct TableColumns {
  std::size_t x = 0, y = 0, z = 0;
  std::size_t count = 0;
};
// Reads the header row; a table without exactly one x, one y and one z
// column is a Error naming `where`.
TableColumns parse_table_header(const std::string &record, const std::string &where);
// The point of one data row (its other fields are carried through
// untouched, as the row's text); blank rows are skipped.
PointLine parse_table_row(const std::string &record, const TableColumns &columns);

// Text without the blanks, tabs and carriage returns around it.
std::string trimmed(const std::string &text);

}  // namespace vacli

#endif
