#include "app/deviceTable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/deviceNotes.h"
#include "device/discovery_job.h"

namespace {

const char* const kTitles[DEVICE_COLUMNS] = {"Devices",   "Address", "Loss of DMX", "Sleep",
                                             "Backlight", "Limits",  "Firmware",    "DALI"};

void cell(DeviceRow* row, int column, const char* fmt, int a = 0, int b = 0) {
  snprintf(row->cells[column], DEVICE_CELL_SIZE, fmt, a, b);
}

// The loss-of-DMX mode as the setup dialog's combo box names it.
void lossText(DeviceRow* row, int mode) {
  if (mode >= 0 && mode < DEV_LOSS_MODES)
    snprintf(row->cells[DEVICE_COL_LOSS], DEVICE_CELL_SIZE, "%s", lossOfDmx[mode]);
  else
    cell(row, DEVICE_COL_LOSS, "mode %d", mode);
}

// A sort key of a row with values: up to two numbers, compared in turn.
struct Key {
  long a, b;
};

Key keyOf(const DeviceRow* r, int column) {
  const Device& d = r->record;
  switch (column) {
    case DEVICE_COL_ADDR: return {d.addr, 0};
    case DEVICE_COL_LOSS: return {d.lossOfDmx, 0};
    case DEVICE_COL_SLEEP: return {d.display[0], 0};
    case DEVICE_COL_BACKLIGHT: return {d.display[1], 0};
    case DEVICE_COL_LIMITS: return {d.limit[1], d.limit[0]};
    case DEVICE_COL_FIRMWARE: return {d.ver[0], d.ver[1]};
    case DEVICE_COL_DALI: return {d.daliCount, 0};
    default: return {r->number, 0};
  }
}

int sign(long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

const char* deviceTable_title(int column) {
  if (column == DEVICE_COL_NOTE) return "Note";
  return column >= 0 && column < DEVICE_COLUMNS ? kTitles[column] : "";
}

void deviceTable_fillRow(DeviceRow* row, int number, uint32_t uid, const Device* record, DeviceReads reads) {
  row->number = number;
  row->uid = uid;
  memset(row->cells, 0, sizeof row->cells);
  cell(row, DEVICE_COL_ROW, "(%d) %08X", number, (int)uid);
  snprintf(row->note, sizeof row->note, "%s", deviceNotes_text(deviceNotes_of(uid)));
  if (!record || !record->answered) {
    memset(&row->record, 0, sizeof row->record);
    row->record.uid = uid;
    if (reads == DEVICE_READS_RUNNING) {
      row->note[0] = 0;
      row->state = DEVICE_ROW_PENDING;
      for (int c = DEVICE_COL_ROW + 1; c < DEVICE_COLUMNS; c++) cell(row, c, "reading\u2026");
    } else if (!record && reads == DEVICE_READS_STOPPED) {
      row->state = DEVICE_ROW_NOT_READ;
      cell(row, DEVICE_COL_ADDR, "not read");
    } else {
      row->state = DEVICE_ROW_NOT_RESPONDING;
      cell(row, DEVICE_COL_ADDR, "not responding");
    }
    return;
  }
  row->record = *record;
  row->state = DEVICE_ROW_READ;
  const Device& d = *record;
  cell(row, DEVICE_COL_ADDR, "%d", d.addr);
  lossText(row, d.lossOfDmx);
  if (d.display[0] == 0)
    cell(row, DEVICE_COL_SLEEP, "Off");
  else
    cell(row, DEVICE_COL_SLEEP, "%d s", d.display[0]);
  cell(row, DEVICE_COL_BACKLIGHT, "%d%%", d.display[1]);
  cell(row, DEVICE_COL_LIMITS, "%d\u2013%d", d.limit[1], d.limit[0]);
  cell(row, DEVICE_COL_FIRMWARE, "%d.%d", d.ver[0], d.ver[1]);
  cell(row, DEVICE_COL_DALI, "%d", d.daliCount);
}

int deviceTable_collect(DeviceTableModel* model) {
  static uint32_t uids[DISCOVERY_JOB_MAX];
  int n = discoveryJob_found(uids, DISCOVERY_JOB_MAX, nullptr);
  if (n > DISCOVERY_JOB_MAX) n = DISCOVERY_JOB_MAX;
  const DeviceReads reads = discoveryJob_reading()       ? DEVICE_READS_RUNNING
                            : discoveryJob_readsStopped() ? DEVICE_READS_STOPPED
                                                          : DEVICE_READS_DONE;
  model->count = 0;
  for (int i = 0; i < n && model->count < DEVICE_TABLE_MAX; i++) {
    Device d;
    const bool has = dev_copy(uids[i], &d);
    deviceTable_fillRow(&model->rows[model->count++], i + 1, uids[i], has ? &d : nullptr, reads);
  }
  return model->count;
}

int deviceTable_compare(const DeviceRow* a, const DeviceRow* b, int column, bool descending) {
  const bool valuesA = a->state == DEVICE_ROW_READ || column == DEVICE_COL_ROW;
  const bool valuesB = b->state == DEVICE_ROW_READ || column == DEVICE_COL_ROW;
  if (valuesA != valuesB) return valuesA ? -1 : 1;
  if (valuesA) {
    const Key ka = keyOf(a, column), kb = keyOf(b, column);
    int c = sign(ka.a - kb.a);
    if (c == 0) c = sign(ka.b - kb.b);
    if (c != 0) return descending ? -c : c;
  }
  return sign((long)a->number - (long)b->number);
}

void deviceTable_sort(DeviceTableModel* model, int column, bool descending) {
  if (column < 0 || column >= DEVICE_COLUMNS) column = DEVICE_COL_ROW, descending = false;
  std::stable_sort(model->rows, model->rows + model->count, [&](const DeviceRow& a, const DeviceRow& b) {
    return deviceTable_compare(&a, &b, column, descending) < 0;
  });
}

bool deviceTable_same(const DeviceTableModel* a, const DeviceTableModel* b) {
  if (a->count != b->count) return false;
  for (int i = 0; i < a->count; i++) {
    if (a->rows[i].uid != b->rows[i].uid || memcmp(a->rows[i].cells, b->rows[i].cells, sizeof a->rows[i].cells) != 0 ||
        strcmp(a->rows[i].note, b->rows[i].note) != 0)
      return false;
  }
  return true;
}

int deviceTable_find(const DeviceTableModel* model, uint32_t uid) {
  for (int i = 0; i < model->count; i++)
    if (model->rows[i].uid == uid) return i;
  return -1;
}
