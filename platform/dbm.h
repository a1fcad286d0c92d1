// Configuration database service: named databases of keys, each key with a
// value type and either a binary value or a sorted list of fixed-size
// elements, kept on disk under the platform's state directory.
//
// Handles are 32-bit; DBM_INVALID_HANDLE (-1) is never a valid handle.
// Keys are NUL-terminated texts of 1 to 127 characters; every call takes
// the key's length with the terminating NUL counted (strlen + 1), and a
// length that does not match the text is refused.
//
// Stores: DBM_OpenCfgDB opens a configuration pair, two databases in one
// store file, so that DBM_Move between them and DBM_Batch_Proc over them
// are each one atomic step. DBM_Open opens a database in a store file of
// its own. Files live in <state dir>/dbm/<group>/: "<name>.db" and
// "<first>+<second>.db" for a pair.
//
// Durability classes (word 2 of the parameter block): class 1 makes every
// write durable on disk when its call returns; class 2 ("run" data that
// can be learned again) writes behind: a background committer stores the
// writes in order, atomically per call, at most plat::dbm::tuning() limits
// behind the calls (by default 1024 calls and 50 ms plus the commit). Every
// read through these calls sees every earlier write of the process,
// committed or not.
//
// Sort lists: DBM_SetSortWord(kind, offset, length, compare, flags)
// describes the sort field of every element: `length` bytes at `offset`.
// kind 1 is the ascending sorted list (the only kind); compare 4 compares
// the field as unsigned bytes, compare 5 as text (bytes after the first
// NUL of the field do not count); flags 0 (the only value) means that
// elements are identified by their sort field: inserting an element whose
// field equals a stored one replaces it, and removal removes the element
// whose field equals the given one's. The element length is fixed by the
// first insertion.
//
// Iterators are 32-bit words, 0 before the first call of a walk; the call
// that starts a walk writes the iterator's number back. A walk continues
// after the last key or element it returned, so keys and elements may be
// inserted, removed, deleted or moved during a walk: whatever is removed
// before the walk reaches it is never returned, and nothing is returned
// twice. Key texts handed out in descriptors stay valid until
// DBM_FreeIterator (or DBM_Close of the handle).
//
// All calls belong to one thread (the daemon's); the committer thread of a
// write-behind store is internal. The calls never throw (noexcept): a
// failure to allocate memory inside one ends the process instead of
// unwinding into the caller, and the stores are made to survive that. Every call asks plat::testing::fault with
// its own name first and records itself while recording is on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t DBM_INVALID_HANDLE = 0xFFFFFFFFu;

// Result codes of the calls that return a status.
constexpr uint32_t DBM_OK = 0;
constexpr uint32_t DBM_ERR_PARAM = 0x4DB00001u;      // bad argument: null, length, name, mode
constexpr uint32_t DBM_ERR_HANDLE = 0x4DB00002u;     // no open database of that handle
constexpr uint32_t DBM_ERR_NOT_FOUND = 0x4DB00003u;  // no such key, element or iterator
constexpr uint32_t DBM_ERR_TYPE = 0x4DB00004u;       // binary call on a sort list or the reverse
constexpr uint32_t DBM_ERR_READ_ONLY = 0x4DB00005u;  // write through a read-only handle
constexpr uint32_t DBM_ERR_STORE = 0x4DB00006u;      // the store file could not be read or written
constexpr uint32_t DBM_ERR_CORRUPT = 0x4DB00007u;    // the store file is damaged or not a store
constexpr uint32_t DBM_ERR_BUSY = 0x4DB00008u;       // the database is open already (here or elsewhere)
constexpr uint32_t DBM_ERR_EXIST = 0x4DB00009u;      // a sort description differs from the key's
constexpr uint32_t DBM_ERR_MISSING = 0x4DB0000Au;    // no store and creation not asked for

// Mode bits of DBM_Open (the daemon passes 7).
constexpr uint32_t DBM_OPEN_READ = 0x1;
constexpr uint32_t DBM_OPEN_WRITE = 0x2;
constexpr uint32_t DBM_OPEN_CREATE = 0x4;
// Flag of DBM_OpenCfgDB (the daemon passes 0: read-write, created when missing).
constexpr uint32_t DBM_CFG_READ_ONLY = 0x1;

// Parameter block: word 0 is the block version (1), word 2 the durability
// class; the other words are reserved and must be 0. A null block means
// version 1, class 1.
constexpr uint32_t DBM_PARAM_VERSION = 1;
constexpr uint32_t DBM_CLASS_DURABLE = 1;
constexpr uint32_t DBM_CLASS_WRITE_BEHIND = 2;
struct DBM_PARAM_S {
    uint32_t auiWord[8];
};
static_assert(sizeof(DBM_PARAM_S) == 32, "eight 32-bit words");

// Sort description values.
constexpr uint32_t DBM_SORT_ASCENDING = 1;
constexpr uint32_t DBM_CMP_BYTES = 4;
constexpr uint32_t DBM_CMP_TEXT = 5;
constexpr uint32_t DBM_SORT_UNIQUE = 0;

// Limits.
constexpr uint32_t DBM_MAX_KEY_LEN = 128;      // stored length, NUL included
constexpr uint32_t DBM_MAX_VALUE_LEN = 65536;  // binary value
constexpr uint32_t DBM_MAX_ELEM_LEN = 4096;    // sort-list element
constexpr uint32_t DBM_MAX_NAME_LEN = 31;      // database and group names

// Key descriptor of DBM_GetKeysByValueType: the key text (NUL-terminated,
// owned by the iterator), its stored length (NUL included) and value type.
struct DBM_KEY_DESC_S {
    const char* pcKey;
    uint32_t uiKeyLen;
    uint32_t uiValueType;
};
static_assert(sizeof(DBM_KEY_DESC_S) == 16, "a key descriptor is 16 bytes");
static_assert(offsetof(DBM_KEY_DESC_S, uiKeyLen) == 8, "the length follows the pointer");

// DBM_Batch_Proc: a handler gets the database handle, the key and its
// stored length, and returns a verdict.
constexpr uint32_t DBM_PROC_KEEP = 0;
constexpr uint32_t DBM_PROC_DELETE = 1;
constexpr uint32_t DBM_PROC_MOVE = 2;
using DBM_PROC_FN = uint32_t (*)(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen);
struct DBM_PROC_KEY_S {
    uint32_t uiValueType;
    DBM_PROC_FN pfFirstDbProc;
    DBM_PROC_FN pfSecondDbProc;  // null: keys of the second database are left alone
};
static_assert(offsetof(DBM_PROC_KEY_S, pfFirstDbProc) == sizeof(void*), "value type, then the handlers");
static_assert(sizeof(DBM_PROC_KEY_S) == 3 * sizeof(void*), "one row");

// Opening and closing. Outputs are written only on success.
uint32_t DBM_OpenCfgDB(const char* szFirstName, const char* szSecondName, const char* szGroup, uint32_t uiFlags,
                       const DBM_PARAM_S* pstParam, uint32_t* phFirst, uint32_t* phSecond) noexcept;
uint32_t DBM_Open(const char* szName, const char* szGroup, uint32_t uiMode, const DBM_PARAM_S* pstParam,
                  uint32_t* phDb) noexcept;
// Stores every pending write, frees the handle's iterators.
uint32_t DBM_Close(uint32_t hDb) noexcept;

// Binary values. uiOffset is a byte offset into the value: SetBinary takes
// only 0 (the value replaces any earlier value, sort lists included);
// GetBinary reads from it and returns the number of bytes copied (at most
// uiValueLen), 0 past the end, -1 for a missing key or an error.
uint32_t DBM_SetBinary(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiOffset, uint32_t uiValueLen,
                       const void* pValue, uint32_t uiValueType) noexcept;
int32_t DBM_GetBinary(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiOffset, uint32_t uiValueLen,
                      void* pBuffer) noexcept;

uint32_t DBM_DeleteKey(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen) noexcept;
// 1 when the key exists (a declared sort description alone is no key), else 0.
uint32_t DBM_IsKeyExist(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen) noexcept;
// Bytes of data under the key (a sort list: elements times element length);
// 0 for a missing key or an error.
uint32_t DBM_Len(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen) noexcept;
// Moves the key with its value and type to the other database of the same
// configuration pair, replacing the key there, in one atomic step.
uint32_t DBM_Move(uint32_t hSrcDb, const char* pcKey, uint32_t uiKeyLen, uint32_t hDstDb) noexcept;

// Sort lists. SetSortWord declares the description of a key that does not
// exist yet (the declaration lives in memory until the first insertion
// creates the key); for an existing sort list it must match.
uint32_t DBM_SetSortWord(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiKind, uint32_t uiOffset,
                         uint32_t uiLength, uint32_t uiCompare, uint32_t uiFlags) noexcept;
uint32_t DBM_InsertSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiElemLen,
                            const void* pElem, uint32_t uiValueType) noexcept;
uint32_t DBM_RemoveSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiElemLen,
                            const void* pElem) noexcept;
// Walks in sort order. uiReserved1 and uiReserved2 must be 0; uiElemLen
// must be the key's element length. GetNextSortList returns the element
// length while it returned an element, BatchGetNextSortList the number of
// elements copied (at most uiMaxCount); both 0 at the end, -1 on error.
int32_t DBM_GetNextSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t* puiIterator,
                            uint32_t uiReserved1, uint32_t uiReserved2, uint32_t uiElemLen, void* pBuffer) noexcept;
int32_t DBM_BatchGetNextSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t* puiIterator,
                                 uint32_t uiReserved1, uint32_t uiReserved2, uint32_t uiElemLen,
                                 uint32_t uiMaxCount, void* pBuffer) noexcept;

// Keys by value type, in key order. Both return 0 on error.
uint32_t DBM_GetKeyNumByValueType(uint32_t hDb, uint32_t uiValueType) noexcept;
uint32_t DBM_GetKeysByValueType(uint32_t hDb, uint32_t uiCount, uint32_t uiValueType, uint32_t* puiIterator,
                                DBM_KEY_DESC_S* pstKeys) noexcept;
// 0 is accepted and ignored.
uint32_t DBM_FreeIterator(uint32_t uiIterator) noexcept;

// Hands every key of each row's value type to the row's handler, rows in
// table order, all keys of a row (first database, then second) before the
// next row; a key is handed over at most once per row, and keys a verdict
// moves are not handed over again. Verdicts: keep, delete, move to the
// other database of the pair (hSecondDb -1: no second database, a move
// verdict keeps the key). Everything the batch writes, the handlers' own
// writes included, is stored as one atomic step per store.
uint32_t DBM_Batch_Proc(uint32_t hFirstDb, uint32_t hSecondDb, const DBM_PROC_KEY_S* pstTable, uint32_t uiRows) noexcept;

namespace plat::dbm {

// Limits of the stores opened from now on (tests and benchmarks change
// them; the defaults are what the daemon runs with).
struct Tuning {
    uint32_t flushIntervalMs = 50;    // a write waits at most this long for its commit to start
    uint32_t flushCalls = 256;        // a commit starts as soon as this many calls wait
    uint32_t pacedPollUs = 1000;      // after a commit of that many, the committer looks this often by itself
    uint32_t maxPendingCalls = 1024;  // beyond this the calling thread waits for the committer
    uint32_t foldChanges = 65536;     // a write-behind store's change log is folded into its key rows at this size
    int durableSynchronous = 2;       // SQLite synchronous level of class 1 stores (2 FULL)
    int writeBehindSynchronous = 1;   // of class 2 stores (1 NORMAL)
};
Tuning& tuning();

// Waits until every write made through hDb so far is committed.
uint32_t flush(uint32_t hDb);

// Folder of the stores: <state dir>/dbm.
std::string storeRoot();

}  // namespace plat::dbm
