#include "cli/help.h"

#include <sstream>
#include <vector>

namespace veltrane {

namespace {

struct Item {
  const char* term;
  const char* text;
};

struct Section {
  const char* title;  // as in the manual page; --help writes it capitalised with a colon
  const char* intro;  // a paragraph before the items, or nullptr
  std::vector<Item> items;
};

const char* const kSummary = "recover tables, indexes, views and triggers from damaged SQLite databases";

const char* const kUsageLines[] = {
    "veltrane-recover scan FILE... [--json] [OPTIONS]",
    "veltrane-recover show FILE NAME [--csv | --json] [OPTIONS]",
    "veltrane-recover save FILE... [-o OUT] [--only NAME,...] [--overwrite] [--jobs N] [OPTIONS]",
    "veltrane-recover dump FILE [OPTIONS]",
    "veltrane-recover export FILE --csv DIR [OPTIONS]",
};

const std::vector<Section>& Sections() {
  static const std::vector<Section> sections = {
      {"DESCRIPTION",
       "Reads a damaged SQLite 3 or SQLite 2.x database page by page, without the SQLite library, finds the "
       "objects that survive and the rows of every table, and writes them into a new, healthy SQLite 3 "
       "database. The source file is only read, never changed.",
       {}},
      {"COMMANDS",
       nullptr,
       {{"scan FILE...", "Detect the format, scan the file and print the object tree: the file, the groups "
                         "TABLES, INDEXES, VIEWS and TRIGGERS, and their objects with their item data."},
        {"show FILE NAME", "Scan, then print one object: a table's rows, tab-separated with a header line of "
                           "the columns (tab, newline and backslash inside a value are written \\t, \\n, \\\\), or "
                           "the CREATE statement of an index, view or trigger. NAME is the object's name as scan "
                           "lists it; quotes and brackets may be left out."},
        {"save FILE...", "Scan, then write the recovered objects into a new SQLite 3 database, by default "
                         "\"Repaired_\" + the file name in the file's folder. With several files, one summary "
                         "line per file; the exit status is the worst of them."},
        {"dump FILE", "Write the recovered database as an SQL script to standard output: the schema, the rows as "
                      "INSERT statements and then the indexes, views and triggers, in one transaction, so that "
                      "'veltrane-recover dump bad.db | sqlite3 good.db' rebuilds it."},
        {"export FILE --csv DIR", "Write one CSV file (RFC 4180) per recovered table into DIR: a header line, "
                                  "NULL as an empty field, blobs as hexadecimal."}}},
      {"OPTIONS",
       nullptr,
       {{"-o, --output OUT", "save: write the repaired database to OUT (one FILE only)."},
        {"--only NAMES", "save, dump, export: only the objects named (comma-separated)."},
        {"--overwrite", "save: replace an existing output file without asking."},
        {"-j, --jobs N", "scan, save: recover up to N files at the same time."},
        {"--csv", "show: print the table as CSV instead of tab-separated text."},
        {"--json", "scan, show: print one JSON document (scan: what detection found and every object with "
                   "its kind, name, columns, types, root page and row count; show: the rows with typed values)."},
        {"-q, --quiet", "do not print log lines."},
        {"-h, --help", "show this help."},
        {"--version", "show the version."}}},
      {"OVERRIDES",
       "For every command. What is given replaces what detection found, so a file whose header is destroyed "
       "can still be parsed.",
       {{"--sqlite-version 2|3", "the file's format."},
        {"--encoding utf8|utf16", "how the file stores text."},
        {"--page-size N", "the page size in bytes."},
        {"--offset N", "byte offset of the database header in the file."}}},
      {"OUTPUT",
       "Log lines go to standard output (to standard error when standard output carries data: show, dump, "
       "--json). Messages go to standard error as \"Caption: text\". While a long job runs and standard error "
       "is a terminal, its progress is shown there. Ctrl-C stops a running job cleanly: rows already written "
       "stay and the output is a valid database.",
       {}},
      {"EXIT STATUS",
       "0 success, 1 the file could not be recovered (a message says why), 2 bad usage, 130 stopped by Ctrl-C.",
       {}},
      {"EXAMPLES",
       nullptr,
       {{"veltrane-recover scan bad.db", "list what survives."},
        {"veltrane-recover show bad.db customers --csv > customers.csv", "one table as CSV."},
        {"veltrane-recover save bad.db --only customers,orders", "write two tables into Repaired_bad.db."},
        {"veltrane-recover dump bad.db | sqlite3 good.db", "rebuild through the sqlite3 shell."}}},
  };
  return sections;
}

// Word-wraps text at width, each line starting with indent spaces.
void Wrap(std::ostringstream& out, const std::string& text, size_t indent, size_t width, size_t firstColumn) {
  std::istringstream words(text);
  std::string word;
  size_t column = firstColumn;
  bool first = true;
  while (words >> word) {
    if (!first && column + 1 + word.size() > width) {
      out << '\n' << std::string(indent, ' ');
      column = indent;
    } else if (!first) {
      out << ' ';
      ++column;
    }
    out << word;
    column += word.size();
    first = false;
  }
  out << '\n';
}

std::string Capitalised(const char* title) {
  std::string s(title);
  for (size_t i = 1; i < s.size(); ++i)
    if (s[i - 1] != ' ' && s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] + 32);
  return s;
}

// Escapes text for troff: backslashes, and a leading dot or quote.
std::string Troff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out.push_back(c);
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

}  // namespace

std::string HelpText() {
  std::ostringstream out;
  out << "Usage: ";
  bool first = true;
  for (const char* line : kUsageLines) {
    out << (first ? "" : "       ") << line << '\n';
    first = false;
  }
  for (const Section& s : Sections()) {
    out << '\n' << Capitalised(s.title) << ":\n";
    if (s.intro) {
      out << "  ";
      Wrap(out, s.intro, 2, 79, 2);
    }
    for (const Item& item : s.items) {
      const std::string term = std::string("  ") + item.term;
      if (term.size() < 26) {
        out << term << std::string(26 - term.size(), ' ');
        Wrap(out, item.text, 26, 79, 26);
      } else {
        out << term << '\n' << std::string(26, ' ');
        Wrap(out, item.text, 26, 79, 26);
      }
    }
  }
  return out.str();
}

std::string ManualPage() {
  std::ostringstream out;
  out << ".TH VELTRANE\\-RECOVER 1 \"\" \"veltrane-recover 17.0\" \"User Commands\"\n";
  out << ".SH NAME\nveltrane\\-recover \\- " << Troff(kSummary) << "\n";
  out << ".SH SYNOPSIS\n";
  for (const char* line : kUsageLines) out << ".B " << Troff(line) << "\n.br\n";
  for (const Section& s : Sections()) {
    out << ".SH " << s.title << "\n";
    if (s.intro) out << Troff(s.intro) << "\n";
    for (const Item& item : s.items) out << ".TP\n.B " << Troff(item.term) << "\n" << Troff(item.text) << "\n";
  }
  return out.str();
}

}  // namespace veltrane
