// The xBase error table (xbase_errors.h).
#include "drivers/dbase3/xbase_errors.h"

namespace db3 {

namespace {

struct XbaseError {
  short runtime;
  const char* text;
};

// -201 to -261, in order.
const XbaseError kErrors[] = {
    {5, "file write failure"},
    {5, "file read failure"},
    {8, "memory allocation error"},
    {35, "file pointer reposition failed"},
    {2, "file not found"},
    {38, "file corrupted"},
    {47,
     "bad user spe"
     "cified key expression"},
    {4, "no handles available"},
    {90, "no index pages loaded"},
    {90, "index page was not loaded"},
    {90, "file close failure"},
    {90, "invalid command"},
    {90, "invalid handle number"},
    {45, "invalid filename"},
    {90, "invalid date"},
    {90, "invalid time"},
    {57, "file not in memo format"},
    {36, "invalid dBaseIII version"},
    {53, "file header length error"},
    {53, "last file change date in error"},
    {90, "parameter address NULL"},
    {47, "invalid key type"},
    {47, "invalid key length"},
    {47, "item length incorrect"},
    {38, "invalid root page"},
    {38, "bad maximum number of keys per page"},
    {47, "invalid number of fields"},
    {47, "field name invalid"},
    {47, "bad field length"},
    {75, "decimal places parameter invalid"},
    {75, "invalid field type"},
    {47, "invalid record length"},
    {90, "bad data"},
    {90, "memo soft line length invalid"},
    {36, "MDX flag in DBF file invalid"},
    {5, "file open for reading only"},
    {32, "file locking violation"},
    {332, "sharing buffer overflow"},
    {3, "path not found"},
    {5, "access to file denied"},
    {5, "invalid access code"},
    {63, "file must be locked first"},
    {317, "diskette changed"},
    {90, "bad minimum number of keys per page"},
    {90, "some files remain open"},
    {5, "could not open the file"},
    {90, "flush to disk failure"},
    {47, "invalid tag handle"},
    {90, "invalid page size in blocks"},
    {46, "invalid tag name"},
    {90, "invalid page offset adder"},
    {90, "inv. max number of tag table elements"},
    {90, "bad tag table element length"},
    {90, "invalid tag count"},
    {90, "unknown key format switches"},
    {90, "unknown switch error"},
    {90, "tag in use"},
    {90, "Windows GlobalLock error"},
    {90, "Windows Task lookup Failed"},
    {90, "internal lock buffer overflow"},
    {90, "internal lock buffer underflow"},
};
static_assert(sizeof(kErrors) / sizeof(kErrors[0]) == 61);

}  // namespace

int XbasePlace(int x) {
  return x <= -201 && x >= -261 ? -201 - x : -1;
}

int RuntimeErrorOf(int x) {
  if (XbaseOk(x)) return 0;
  const int place = XbasePlace(x);
  if (place >= 0) return kErrors[place].runtime;
  if (x == -279) return 32;
  if (x == 49184) return 5;
  return x;
}

const char* XbaseText(int x) {
  const int place = XbasePlace(x);
  return place >= 0 ? kErrors[place].text : "";
}

}  // namespace db3
