#include "device/rig.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include "device/app_genUID.h"
#include "device/commission_csv.h"
#include "device/exchange.h"
#include "link/fileio.h"

namespace {

bool cableEnd(int end) { return end == DISCOVERY_END_NO_CABLE || end == DISCOVERY_END_SEND_FAILED; }

bool stopAsked(const std::atomic<bool>* stop) { return stop && stop->load(); }

// Reads every device found, in order; stops at the first read the cable
// fails, since every read after it would fail the same way, and at a stop.
void readAll(RigDiscovery* d) {
  for (int i = 0; i < d->count; i++) d->read[i] = RIG_NOT_READ;
  if (cableEnd(d->run.end)) return;
  for (int i = 0; i < d->count; i++) {
    if (stopAsked(d->stop)) {
      d->stopped = true;
      return;
    }
    const int r = commission_read(d->uids[i], &d->records[i]);
    if (commission_cableFailed(r)) {
      d->readFailure = r;
      return;
    }
    d->read[i] = r > 0 ? RIG_READ : RIG_NOT_RESPONDING;
    if (d->onRead) d->onRead(i, d->ctx);
  }
}

}  // namespace

void rig_discover(RigDiscovery* d) {
  d->count = 0;
  d->readFailure = 0;
  d->stopped = false;
  d->run = DiscoveryRun();
  d->run.mode = d->mode;
  d->run.onFound = d->onFound;
  d->run.onProgress = d->onProgress;
  d->run.ctx = d->ctx;
  d->run.stop = d->stop;
  d->count = discovery_run(&d->run, d->uids, RIG_MAX);
  if (d->run.end == DISCOVERY_END_STOPPED) d->stopped = true;
  // The table ends up holding the devices found that answered their read;
  // Find new devices keeps the records of the devices found before.
  if (d->mode != DISCOVERY_NEW && !cableEnd(d->run.end)) dev_removeAll();
  readAll(d);
}

bool rig_cableFailed(const RigDiscovery* d) { return cableEnd(d->run.end) || d->readFailure != 0; }

bool rig_failed(const RigDiscovery* d) {
  return rig_cableFailed(d) || (d->run.end != DISCOVERY_END_DONE && d->run.end != DISCOVERY_END_STOPPED);
}

const char* rig_cableText(int result) { return exchange_cableText(result); }

void rig_endText(const RigDiscovery* d, char* text, int size) {
  if (size <= 0) return;
  text[0] = 0;
  if (d->readFailure != 0) {
    snprintf(text, (size_t)size, "%d device%s found, but reading their settings stopped:\n%s", d->count,
             d->count == 1 ? "" : "s", exchange_cableText(d->readFailure));
    return;
  }
  if (d->stopped) {
    snprintf(text, (size_t)size, "Stopped: %d device%s found.", d->count, d->count == 1 ? "" : "s");
    return;
  }
  discovery_endText(&d->run, text, size);
}

bool rig_exportRead(const uint32_t* uids, int count, RigExport* out, void (*onRead)(int, void*), void* ctx,
                    const std::atomic<bool>* stop) {
  out->count = 0;
  out->silentCount = 0;
  out->failure = 0;
  out->stopped = false;
  for (int i = 0; i < count && i < RIG_MAX; i++) {
    if (stopAsked(stop)) {
      out->stopped = true;
      return false;
    }
    const int r = commission_read(uids[i], &out->records[out->count]);
    if (commission_cableFailed(r)) {
      out->failure = r;
      return false;
    }
    if (r > 0)
      out->count++;
    else
      out->silent[out->silentCount++] = uids[i];
    if (onRead) onRead(i + 1, ctx);
  }
  return true;
}

int rig_writeRecord(const char* path, const Device* records, int count) {
  // The order of the record there already, if there is one.
  std::unique_ptr<CommissionPlan> before(new CommissionPlan);
  char ignored[COMMISSION_TEXT_SIZE];
  if (rig_readRecord(path, before.get(), ignored, sizeof ignored) != RIG_FILE_OK) before->count = 0;
  std::vector<Device> ordered;
  std::vector<bool> taken((size_t)count, false);
  for (int t = 0; t < before->count; t++)
    for (int i = 0; i < count; i++)
      if (!taken[(size_t)i] && records[i].uid == before->targets[t].uid) {
        ordered.push_back(records[i]);
        taken[(size_t)i] = true;
      }
  for (int i = 0; i < count; i++)
    if (!taken[(size_t)i]) ordered.push_back(records[i]);
  std::unique_ptr<char[]> text(new char[COMMISSION_CSV_SIZE]);
  if (commission_csvFormat(ordered.data(), (int)ordered.size(), text.get(), COMMISSION_CSV_SIZE) < 0) return EOVERFLOW;
  return save_file(path, text.get()) == 0 ? 0 : (errno ? errno : EIO);
}

namespace {

// The cells of one line of a record: where each begins and ends, quotes
// respected (a UID cell never holds a separator, but another cell may).
std::vector<std::pair<size_t, size_t>> cellsOf(const std::string& line, char separator) {
  std::vector<std::pair<size_t, size_t>> cells;
  size_t begin = 0;
  bool quoted = false;
  for (size_t i = 0; i <= line.size(); i++) {
    if (i < line.size() && line[i] == '"') quoted = !quoted;
    if (i == line.size() || (!quoted && line[i] == separator)) {
      cells.emplace_back(begin, i);
      begin = i + 1;
    }
  }
  return cells;
}

std::string unquoted(const std::string& cell) {
  if (cell.size() >= 2 && cell.front() == '"' && cell.back() == '"') return cell.substr(1, cell.size() - 2);
  return cell;
}

}  // namespace

bool rig_renameInRecord(const char* path, uint32_t oldUid, uint32_t newUid, char* error, int size) {
  std::unique_ptr<unsigned char[]> data(new unsigned char[COMMISSION_CSV_MAX_BYTES + 1]);
  errno = 0;
  const int n = read_file(path, data.get(), COMMISSION_CSV_MAX_BYTES + 1);
  if (n < 0 || n > COMMISSION_CSV_MAX_BYTES) {
    snprintf(error, (size_t)size, "cannot read %s: %s", path, strerror(n < 0 && errno ? errno : EFBIG));
    return false;
  }
  const std::string text((const char*)data.get(), (size_t)n);
  // Lines with their ends, as the file has them.
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, next - at));
    at = next;
  }
  if (lines.empty()) {
    snprintf(error, (size_t)size, "%s names no device", path);
    return false;
  }
  const std::string& header = lines[0];
  const char separator = header.find(';') != std::string::npos ? ';' : header.find('\t') != std::string::npos ? '\t' : ',';
  int uidColumn = -1;
  const auto headerCells = cellsOf(header, separator);
  for (size_t c = 0; c < headerCells.size(); c++) {
    std::string name = unquoted(header.substr(headerCells[c].first, headerCells[c].second - headerCells[c].first));
    while (!name.empty() && (name.back() == '\r' || name.back() == '\n' || name.back() == ' ')) name.pop_back();
    if (name.size() >= 3 && strcasecmp(name.c_str() + name.size() - 3, "uid") == 0) uidColumn = (int)c;  // a BOM may lead
  }
  for (size_t l = 1; l < lines.size() && uidColumn >= 0; l++) {
    const auto cells = cellsOf(lines[l], separator);
    if ((int)cells.size() <= uidColumn) continue;
    const auto& cell = cells[(size_t)uidColumn];
    std::string uidText = unquoted(lines[l].substr(cell.first, cell.second - cell.first));
    while (!uidText.empty() && (uidText.back() == '\r' || uidText.back() == '\n')) uidText.pop_back();
    uint32_t uid;
    if (!commission_parseUid(uidText.c_str(), &uid) || uid != oldUid) continue;
    // The new UID in the old one's own style.
    const bool prefixed = uidText.find("0x") != std::string::npos || uidText.find("0X") != std::string::npos;
    char fresh[16];
    snprintf(fresh, sizeof fresh, prefixed ? "0x%08X" : "%08X", (unsigned)newUid);
    std::string line = lines[l];
    line.replace(cell.first, cell.second - cell.first, fresh);
    // A last line without its end keeps none; one with CR LF keeps it.
    if (cell.second == lines[l].size() && !lines[l].empty() && lines[l].back() == '\n')
      line += lines[l].size() >= 2 && lines[l][lines[l].size() - 2] == '\r' ? "\r\n" : "\n";
    lines[l] = line;
    std::string out;
    for (const std::string& x : lines) out += x;
    if (save_file(path, out.c_str()) != 0) {
      snprintf(error, (size_t)size, "cannot write %s: %s", path, strerror(errno ? errno : EIO));
      return false;
    }
    return true;
  }
  snprintf(error, (size_t)size, "%s has no row for %08X", path, (unsigned)oldUid);
  return false;
}

RigFileStatus rig_readRecord(const char* path, CommissionPlan* plan, char* error, int size,
                             CommissionCsvError* where) {
  plan->count = 0;
  if (error && size > 0) error[0] = 0;
  std::unique_ptr<unsigned char[]> data(new unsigned char[COMMISSION_CSV_MAX_BYTES + 1]);
  errno = 0;
  const int n = read_file(path, data.get(), COMMISSION_CSV_MAX_BYTES + 1);
  if (n < 0) {
    if (error && size > 0) snprintf(error, (size_t)size, "%s", strerror(errno ? errno : EIO));
    return RIG_FILE_UNREADABLE;
  }
  if (!commission_csvRead((const char*)data.get(), (size_t)n, plan, error, size, where)) return RIG_FILE_REFUSED;
  if (plan->count == 0) {
    if (error && size > 0) snprintf(error, (size_t)size, "it names no device");
    return RIG_FILE_EMPTY;
  }
  return RIG_FILE_OK;
}

int rig_newUid(uint32_t uid, uint32_t fresh) {
  Device taken;
  const int r = commission_read(fresh, &taken);
  if (r > 0) return RIG_UID_TAKEN;
  if (commission_cableFailed(r)) return r;
  return app_genUidOutcome(uid, fresh);
}

char* rig_newUidText(char* text, int size, uint32_t uid, uint32_t fresh, int outcome) {
  if (outcome != RIG_UID_TAKEN) return app_genUid_outcomeText(text, size, uid, fresh, outcome);
  snprintf(text, (size_t)size,
           "UID %08X -> %08X\n not changed: a device on the line has %08X already; try again in two seconds.",
           (unsigned)uid, (unsigned)fresh, (unsigned)fresh);
  return text;
}
