// The settings store: text keys mapped to text values in the Config table.
// The table has no key constraint; reads take the first matching row and
// updates change every matching row. Static, callable from any thread;
// every key and value is escaped here.
//
// Result codes: 0 success, 102 the statement failed, 103 no such key.
#ifndef TEV_DB_CONFIG_H_
#define TEV_DB_CONFIG_H_

#include <cstdint>
#include <string>

class Config {
 public:
  static constexpr int32_t kOk = 0;
  static constexpr int32_t kStatementFailed = 102;
  static constexpr int32_t kNoSuchKey = 103;

  // On 0 *value receives the value of the first row with `key`; otherwise
  // *value is left as it was (103 is logged at ERROR).
  static int32_t Get(const std::wstring& key, std::wstring* value);
  // Updates an existing key; a missing key stays missing and gives 0 too.
  static int32_t Set(const std::wstring& key, const std::wstring& value);
  // The value, or empty when the key is missing or the statement fails.
  static std::wstring GetString(const std::wstring& key);
  // Updates the key when it exists, else inserts it. A failing statement
  // loses the write (the statement is logged by the database layer).
  // Concurrent calls in this process never insert the same key twice.
  static void SetString(const std::wstring& key, const std::wstring& value);
};

#endif  // TEV_DB_CONFIG_H_
