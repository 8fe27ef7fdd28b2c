#include "device/commission_csv.h"

#include <csv.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// What a column holds: the UID, a setting, or what the device reported
// (version, DALI count), which is never written back.
enum { COL_UID = -1, COL_INFO = -2 };

struct Column {
  const char* name;
  int kind;  // a CommissionField, COL_UID or COL_INFO
};

const Column kColumns[] = {
    {"uid", COL_UID},
    {"address", COMMISSION_ADDR},
    {"loss", COMMISSION_LOSS},
    {"sleep", COMMISSION_SLEEP},
    {"backlight", COMMISSION_BACKLIGHT},
    {"limit_up", COMMISSION_LIMIT_UP},
    {"limit_down", COMMISSION_LIMIT_DOWN},
    {"version", COL_INFO},
    {"dali_count", COL_INFO},
};
const int kColumnCount = (int)(sizeof kColumns / sizeof kColumns[0]);

const char kHeader[] = "uid,address,loss,sleep,backlight,limit_up,limit_down,version,dali_count\n";

struct Reader {
  CommissionPlan* plan;
  char* error;
  int errorSize;
  CommissionCsvError* where = nullptr;
  bool failed = false;
  int line = 1;            // the line of the byte being read
  bool headerDone = false;
  int columns = 0;         // in the header
  int column[kColumnCount];  // the header's columns: indexes into kColumns
  int cells = 0;           // cells of the current record so far
  char cell[kColumnCount][COMMISSION_CSV_CELL_MAX + 1];
  int cellLine[kColumnCount];
  int rowLine = 0;         // where the current row began
  int quoteLine = 0;       // where the quoted cell being read began
};

void fail(Reader* r, int line, int col, const char* fmt, ...) __attribute__((format(printf, 4, 5)));

// The first fault is the one reported: "line L, column C (name): why".
void fail(Reader* r, int line, int col, const char* fmt, ...) {
  if (r->failed) return;
  r->failed = true;
  char why[COMMISSION_TEXT_SIZE];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(why, sizeof why, fmt, ap);
  va_end(ap);
  const char* name = r->headerDone && col >= 1 && col <= r->columns ? kColumns[r->column[col - 1]].name : nullptr;
  if (r->where) {
    r->where->line = line;
    r->where->column = col > 0 ? col : 0;
    snprintf(r->where->field, sizeof r->where->field, "%s", name ? name : "");
    snprintf(r->where->message, sizeof r->where->message, "%s", why);
  }
  if (r->errorSize <= 0) return;
  if (col <= 0)
    snprintf(r->error, (size_t)r->errorSize, "line %d: %s", line, why);
  else if (name)
    snprintf(r->error, (size_t)r->errorSize, "line %d, column %d (%s): %s", line, col, name, why);
  else
    snprintf(r->error, (size_t)r->errorSize, "line %d, column %d: %s", line, col, why);
}

void headerCell(Reader* r, const char* text, int col) {
  if (col > kColumnCount) {
    fail(r, r->line, col, "more columns than the file has kinds of value (%d)", kColumnCount);
    return;
  }
  int found = -1;
  for (int k = 0; k < kColumnCount; k++)
    if (strcasecmp(text, kColumns[k].name) == 0) found = k;
  if (found < 0) {
    char shown[COMMISSION_CSV_CELL_MAX];
    commission_quote(text, shown, sizeof shown);
    fail(r, r->line, col,
         "unknown column %s; the columns are uid, address, loss, sleep, backlight, limit_up, "
         "limit_down, version, dali_count",
         shown);
    return;
  }
  for (int c = 0; c < col - 1; c++) {
    if (r->column[c] == found) {
      fail(r, r->line, col, "\"%s\" is column %d already", kColumns[found].name, c + 1);
      return;
    }
  }
  r->column[col - 1] = found;
  r->columns = col;
}

void row(Reader* r) {
  CommissionTarget t = {};
  bool haveUid = false;
  for (int c = 0; c < r->columns && !r->failed; c++) {
    const int kind = kColumns[r->column[c]].kind;
    const char* text = r->cell[c];
    if (kind == COL_INFO) continue;
    if (kind == COL_UID) {
      char why[COMMISSION_TEXT_SIZE];
      if (!commission_parseUid(text, &t.uid, why, sizeof why)) {
        fail(r, r->cellLine[c], c + 1, "%s", why);
        return;
      }
      haveUid = true;
      continue;
    }
    if (text[0] == 0) continue;  // empty: the device keeps its value
    char why[COMMISSION_TEXT_SIZE];
    if (!commission_parseField(kind, text, &t.want.v[kind], why, sizeof why)) {
      fail(r, r->cellLine[c], c + 1, "%s", why);
      return;
    }
    t.want.has |= 1u << kind;
  }
  if (r->failed || !haveUid) return;
  char why[COMMISSION_TEXT_SIZE];
  if (commission_checkLimits(&t.want, why, sizeof why) != 0) {
    int downColumn = 0;
    for (int c = 0; c < r->columns; c++)
      if (kColumns[r->column[c]].kind == COMMISSION_LIMIT_DOWN) downColumn = c + 1;
    fail(r, r->line, downColumn, "%s", why);
    return;
  }
  CommissionPlan* plan = r->plan;
  for (int i = 0; i < plan->count; i++) {
    if (plan->targets[i].uid == t.uid) {
      fail(r, r->rowLine, 1, "%08X is on line %d already", (unsigned)t.uid, plan->targets[i].line);
      return;
    }
  }
  if (plan->count >= COMMISSION_MAX) {
    fail(r, r->rowLine, 0, "more than %d devices", COMMISSION_MAX);
    return;
  }
  t.line = r->rowLine;
  plan->targets[plan->count++] = t;
}

// libcsv: a cell has ended.
void onCell(void* data, size_t len, void* ctx) {
  Reader* r = (Reader*)ctx;
  if (r->failed) return;
  const int col = ++r->cells;
  if (col == 1) r->rowLine = r->line;
  const char* text = data ? (const char*)data : "";
  if (data && strlen(text) != len) {
    fail(r, r->line, col, "a zero byte in the cell");
    return;
  }
  if (!r->headerDone) {
    headerCell(r, text, col);
    return;
  }
  if (col > r->columns) {
    fail(r, r->line, col, "more cells than the header names (%d)", r->columns);
    return;
  }
  if (len > COMMISSION_CSV_CELL_MAX) {
    fail(r, r->line, col, "longer than %d characters", COMMISSION_CSV_CELL_MAX);
    return;
  }
  memcpy(r->cell[col - 1], text, len + 1);
  r->cellLine[col - 1] = r->line;
}

// libcsv: a record has ended.
void onRecord(int, void* ctx) {
  Reader* r = (Reader*)ctx;
  const int cells = r->cells;
  r->cells = 0;
  if (r->failed) return;
  if (!r->headerDone) {
    bool uid = false;
    for (int c = 0; c < r->columns; c++) uid = uid || kColumns[r->column[c]].kind == COL_UID;
    if (!uid) {
      fail(r, r->line, 0, "the header names no uid column");
      return;
    }
    r->headerDone = true;
    return;
  }
  if (cells < r->columns) {
    fail(r, r->line, cells + 1, "missing: the row has %d cells, the header names %d", cells, r->columns);
    return;
  }
  row(r);
}

// The separator is the header's: the first comma, semicolon or tab outside
// quotes on the first line that is not blank; a comma when it has none
// (a file of one column). A spreadsheet saves with the separator of its
// locale, ';' in much of Europe, or with tabs.
unsigned char separatorOf(const char* data, size_t size) {
  size_t at = 0;
  while (at < size && (data[at] == '\r' || data[at] == '\n')) at++;
  bool quoted = false;
  for (; at < size; at++) {
    const char c = data[at];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\r' || c == '\n') break;
    if (c == ',' || c == ';' || c == '\t') return (unsigned char)c;
  }
  return ',';
}

void appendCell(char* out, int size, int& used, bool& fits, const char* text, bool last) {
  const int n = snprintf(out + used, (size_t)(size - used), "%s%s", text, last ? "\n" : ",");
  if (n < 0 || n >= size - used) {
    fits = false;
    return;
  }
  used += n;
}

}  // namespace

int commission_csvFormat(const Device* devices, int count, char* out, int size) {
  if (size <= 0) return -1;
  int used = snprintf(out, (size_t)size, "%s", kHeader);
  bool fits = used < size;
  for (int i = 0; i < count && fits; i++) {
    const Device& d = devices[i];
    CommissionValues v;
    commission_fromDevice(&d, &v);
    char text[COMMISSION_VALUE_TEXT_SIZE];
    // 0x keeps the UID text in a spreadsheet: 0000E000 or 12345E67 alone
    // would be read as a number in scientific notation and saved back as
    // "0" or "1.2345E+071", and 00001234 would lose its zeros.
    snprintf(text, sizeof text, "0x%08X", (unsigned)d.uid);
    appendCell(out, size, used, fits, text, false);
    for (int f = 0; f < COMMISSION_FIELDS; f++) {
      commission_valueText(f, v.v[f], text, sizeof text);
      appendCell(out, size, used, fits, text, false);
    }
    if (d.ver[0] || d.ver[1])
      snprintf(text, sizeof text, "%d.%d", d.ver[0], d.ver[1]);
    else
      text[0] = 0;  // the device never said
    appendCell(out, size, used, fits, text, false);
    snprintf(text, sizeof text, "%d", d.daliCount);
    appendCell(out, size, used, fits, text, true);
  }
  if (!fits) {
    out[0] = 0;
    return -1;
  }
  return used;
}

bool commission_csvRead(const char* data, size_t size, CommissionPlan* plan, char* error, int errorSize,
                        CommissionCsvError* where) {
  plan->count = 0;
  if (errorSize > 0) error[0] = 0;
  if (where) memset(where, 0, sizeof *where);
  Reader r;
  r.where = where;
  r.plan = plan;
  r.error = error;
  r.errorSize = errorSize;
  if (size > COMMISSION_CSV_MAX_BYTES) {
    fail(&r, 1, 0, "the file is larger than %d bytes", COMMISSION_CSV_MAX_BYTES);
    return false;
  }
  size_t at = 0;
  if (size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0) at = 3;  // a byte-order mark
  struct csv_parser p;
  if (csv_init(&p, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) {
    fail(&r, 1, 0, "out of memory");
    return false;
  }
  // (libcsv takes the separator before it trims blanks: a tab between
  // tabs is an empty cell.)
  csv_set_delim(&p, separatorOf(data + at, size - at));
  // A byte at a time, so that every cell knows its line.
  bool quoted = false;
  for (; at < size && !r.failed; at++) {
    if (csv_parse(&p, data + at, 1, onCell, onRecord, &r) != 1) {
      fail(&r, r.line, r.cells + 1,
           csv_error(&p) == CSV_EPARSE ? "a quote out of place (quote a whole cell, and double a quote inside it)"
                                       : "out of memory");
      break;
    }
    if (p.quoted && !quoted) r.quoteLine = r.line;
    quoted = p.quoted != 0;
    if (data[at] == '\n' || (data[at] == '\r' && (at + 1 >= size || data[at + 1] != '\n'))) r.line++;
  }
  if (!r.failed && csv_fini(&p, onCell, onRecord, &r) != 0)
    fail(&r, r.quoteLine, r.cells + 1, "the quote that begins this cell is not closed");
  csv_free(&p);
  if (!r.failed && !r.headerDone) fail(&r, 1, 0, "no header row: the file is empty");
  if (r.failed) {
    plan->count = 0;
    return false;
  }
  return true;
}
