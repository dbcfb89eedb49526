#include "peers/MediaStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "peers/ChannelLineup.h"
#include "platform/WideText.h"
#include "support/VUtil.h"

namespace tev {
namespace peers {

namespace {

using nlohmann::json;

std::string U8(const std::wstring& text) { return tev::ToStdUtf8(text); }
std::wstring W(const std::string& text) { return tev::FromStdUtf8(text); }

std::string Text(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return std::string();
  return value.dump();
}

std::wstring Prop(const json& props, const char* name) {
  auto found = props.find(name);
  return found == props.end() ? std::wstring() : W(Text(*found));
}

}  // namespace

Value JsonToValue(const json& value) {
  if (value.is_number_integer()) return Value::Long(value.get<int32_t>());
  return Value::Str(W(Text(value)));
}

json PairsToJson(const VARIANT& pairs) {
  json props = json::object();
  const long count = VUtil::GetArrayLengthEmpty(pairs);
  for (long i = 0; i < count; ++i) {
    AutoVariant pair, value;
    VUtil::GetElement(pairs, i, &pair);
    if (pair.get().vt == VT_EMPTY) continue;
    const std::string name = U8(VUtil::GetStringElement(pair, 0));
    VUtil::GetElement(pair, 1, &value);
    if (value.get().vt == VT_I4) {
      props[name] = value.get().lVal;
    } else if (value.get().vt == VT_BSTR) {
      props[name] = U8(value.get().bstrVal ? value.get().bstrVal : L"");
    } else {
      props[name] = "";
    }
  }
  return props;
}

MediaStore::MediaStore() = default;

MediaStore::~MediaStore() {
  if (db_) sqlite3_close(db_);
}

bool MediaStore::Exec(const std::string& sql) {
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool MediaStore::Open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> hold(mutex_);
  // Opening again replaces the store; the old connection is closed, not lost.
  if (db_) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
    if (error) *error = "cannot open " + path + ": " + sqlite3_errmsg(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  // A stand-in: losing the last edits on power loss is acceptable, a
  // commit per medium at disk speed is not.
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=NORMAL");
  if (!Exec("CREATE TABLE IF NOT EXISTS media (id TEXT PRIMARY KEY, source TEXT, props TEXT)") ||
      !Exec("CREATE TABLE IF NOT EXISTS counter (name TEXT PRIMARY KEY, value INTEGER)") ||
      !Exec("INSERT OR IGNORE INTO counter VALUES ('next', 1)") ||
      !Exec("CREATE INDEX IF NOT EXISTS mediaBySource ON media (source)") ||
      !Exec("CREATE TABLE IF NOT EXISTS terms (id TEXT, name TEXT, value TEXT)") ||
      !Exec("CREATE INDEX IF NOT EXISTS termsByValue ON terms (name, value)") ||
      !Exec("CREATE INDEX IF NOT EXISTS termsById ON terms (id)")) {
    if (error) *error = std::string("cannot create tables: ") + sqlite3_errmsg(db_);
    return false;
  }
  // A file from before the term index: index what it holds once.
  if (Count("SELECT count(*) FROM terms") == 0 && Count("SELECT count(*) FROM media") > 0) {
    Exec("BEGIN");
    sqlite3_stmt* statement = nullptr;
    std::vector<std::pair<std::string, std::string>> all;
    if (sqlite3_prepare_v2(db_, "SELECT id, props FROM media", -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        all.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                         reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
      }
    }
    sqlite3_finalize(statement);
    for (const auto& medium : all) {
      json props = json::parse(medium.second, nullptr, false);
      if (props.is_object()) IndexLocked(medium.first, props);
    }
    Exec("COMMIT");
  }
  return true;
}

int64_t MediaStore::Count(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  int64_t count = 0;
  if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    count = sqlite3_column_int64(statement, 0);
  }
  sqlite3_finalize(statement);
  return count;
}

void MediaStore::IndexLocked(const std::string& key, const json& props) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, "DELETE FROM terms WHERE id = ?", -1, &statement, nullptr) ==
      SQLITE_OK) {
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(statement);
  }
  sqlite3_finalize(statement);
  if (sqlite3_prepare_v2(db_, "INSERT INTO terms (id, name, value) VALUES (?, ?, ?)", -1,
                         &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return;
  }
  for (auto property = props.begin(); property != props.end(); ++property) {
    if (property.value().is_structured()) continue;
    const std::string value = Text(property.value());
    sqlite3_reset(statement);
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, property.key().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 3, value.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(statement);
  }
  sqlite3_finalize(statement);
}

bool MediaStore::ImportChannels(const std::string& source, std::string* error,
                                std::vector<std::string>* problems) {
  Lineup lineup;
  if (!LoadLineup(source, &lineup, error)) return false;
  if (problems) *problems = lineup.problems;
  ImportChannelList(lineup.channels);
  return true;
}

void MediaStore::ImportChannelList(const std::vector<json>& channels) {
  std::lock_guard<std::mutex> hold(mutex_);
  // One transaction: a playlist of thousands of channels is one write.
  Exec("BEGIN");
  for (const json& channel : channels) {
    json props = channel;
    props["tevMediumId"] = Text(channel["id"]);
    if (!props.contains("title")) props["title"] = Text(channel.value("name", json("")));
    if (!props.contains("mimeType")) props["mimeType"] = "video/x-tv";
    if (!props.contains("mediaType")) props["mediaType"] = "tv.channel";
    if (!props.contains("streamFormat")) props["streamFormat"] = "";
    AddLocked(L"channels", props);
  }
  Exec("COMMIT");
}

std::wstring MediaStore::NewIdLocked() {
  sqlite3_stmt* statement = nullptr;
  int64_t next = 1;
  if (sqlite3_prepare_v2(db_, "SELECT value FROM counter WHERE name = 'next'", -1, &statement,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    next = sqlite3_column_int64(statement, 0);
  }
  sqlite3_finalize(statement);
  Exec("UPDATE counter SET value = value + 1 WHERE name = 'next'");
  return L"M" + std::to_wstring(next);
}

std::wstring MediaStore::Add(const std::wstring& source, const json& props) {
  std::lock_guard<std::mutex> hold(mutex_);
  return AddLocked(source, props);
}

std::wstring MediaStore::AddLocked(const std::wstring& source, const json& propsIn) {
  json props = propsIn;
  std::wstring id = Prop(props, "tevMediumId");
  json merged = json::object();
  sqlite3_stmt* statement = nullptr;
  bool exists = false;
  if (!id.empty() &&
      sqlite3_prepare_v2(db_, "SELECT props FROM media WHERE id = ?", -1, &statement, nullptr) ==
          SQLITE_OK) {
    const std::string key = U8(id);
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      exists = true;
      merged = json::parse(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                           nullptr, false);
      if (!merged.is_object()) merged = json::object();
    }
  }
  sqlite3_finalize(statement);
  // A channel import names its own ids; anything else unknown gets one.
  if (id.empty() || (!exists && source != L"channels")) id = NewIdLocked();
  merged.update(props);
  merged["tevMediumId"] = U8(id);
  PutLocked(id, source, merged);
  return id;
}

void MediaStore::Put(const std::wstring& id, const std::wstring& source, const json& props) {
  std::lock_guard<std::mutex> hold(mutex_);
  PutLocked(id, source, props);
}

void MediaStore::PutLocked(const std::wstring& id, const std::wstring& source, const json& props) {
  // A savepoint: one transaction alone, a part of an import's.
  Exec("SAVEPOINT put");
  sqlite3_stmt* statement = nullptr;
  const std::string key = U8(id);
  if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO media (id, source, props) VALUES (?, ?, ?)",
                         -1, &statement, nullptr) == SQLITE_OK) {
    const std::string from = U8(source), text = props.dump();
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, from.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 3, text.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(statement);
  }
  sqlite3_finalize(statement);
  IndexLocked(key, props);
  Exec("RELEASE put");
}

std::wstring MediaStore::SourceLocked(const std::wstring& id) {
  std::wstring from;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT source FROM media WHERE id = ?", -1, &statement, nullptr) ==
      SQLITE_OK) {
    const std::string key = U8(id);
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      from = W(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
  }
  sqlite3_finalize(statement);
  return from;
}

bool MediaStore::Get(const std::wstring& id, json* props) {
  std::lock_guard<std::mutex> hold(mutex_);
  return GetLocked(id, props);
}

bool MediaStore::GetLocked(const std::wstring& id, json* props) {
  sqlite3_stmt* statement = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db_, "SELECT props FROM media WHERE id = ?", -1, &statement, nullptr) ==
      SQLITE_OK) {
    const std::string key = U8(id);
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      json parsed = json::parse(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                                nullptr, false);
      found = parsed.is_object();
      if (found && props) *props = parsed;
    }
  }
  sqlite3_finalize(statement);
  return found;
}

bool MediaStore::Remove(const std::wstring& id) {
  std::lock_guard<std::mutex> hold(mutex_);
  return RemoveLocked(id);
}

bool MediaStore::RemoveLocked(const std::wstring& id) {
  sqlite3_stmt* statement = nullptr;
  bool removed = false;
  if (sqlite3_prepare_v2(db_, "DELETE FROM media WHERE id = ?", -1, &statement, nullptr) ==
      SQLITE_OK) {
    const std::string key = U8(id);
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    removed = sqlite3_step(statement) == SQLITE_DONE && sqlite3_changes(db_) > 0;
  }
  sqlite3_finalize(statement);
  if (removed) IndexLocked(U8(id), json::object());
  return removed;
}

bool MediaStore::SetProperty(const std::wstring& id, const std::wstring& name, const json& value) {
  // One critical section: handlers of different methods may change the same
  // medium at once, and neither change may be lost.
  std::lock_guard<std::mutex> hold(mutex_);
  json props;
  if (!GetLocked(id, &props)) return false;
  props[U8(name)] = value;
  // Keep the medium's source.
  std::wstring from = SourceLocked(id);
  if (from.empty()) from = L"PVR";
  AddLocked(from, props);
  return true;
}

std::vector<std::pair<std::wstring, json>> MediaStore::Find(
    const std::map<std::string, std::string>& filter) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<std::pair<std::wstring, json>> found;
  // The narrowest indexed term picks the candidates; the rest are checked
  // on each candidate's properties.
  std::string sql = "SELECT id, source, props FROM media ORDER BY rowid";
  std::vector<std::string> bound;
  auto source = filter.find("source");
  auto id = filter.find("tevMediumId");
  if (id != filter.end()) {
    sql = "SELECT id, source, props FROM media WHERE id = ?";
    bound = {id->second};
  } else if (source != filter.end()) {
    sql = "SELECT id, source, props FROM media WHERE source = ? ORDER BY rowid";
    bound = {source->second};
  } else if (!filter.empty()) {
    sql = "SELECT m.id, m.source, m.props FROM terms t JOIN media m ON m.id = t.id "
          "WHERE t.name = ? AND t.value = ? ORDER BY m.rowid";
    bound = {filter.begin()->first, filter.begin()->second};
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return found;
  }
  for (size_t i = 0; i < bound.size(); ++i) {
    sqlite3_bind_text(statement, static_cast<int>(i + 1), bound[i].c_str(), -1, SQLITE_TRANSIENT);
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    json props = json::parse(reinterpret_cast<const char*>(sqlite3_column_text(statement, 2)),
                             nullptr, false);
    if (!props.is_object()) continue;
    props["source"] = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    bool match = true;
    for (const auto& term : filter) {
      auto value = props.find(term.first);
      if (value == props.end() || Text(*value) != term.second) match = false;
    }
    if (match) {
      found.emplace_back(W(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))), props);
    }
  }
  sqlite3_finalize(statement);
  return found;
}

std::wstring MediaStore::ChangeId(const std::wstring& oldId) {
  // One critical section, so that two renames of one medium make one medium.
  std::lock_guard<std::mutex> hold(mutex_);
  json props;
  if (!GetLocked(oldId, &props)) return NewIdLocked();
  std::wstring source = SourceLocked(oldId);
  if (source.empty()) source = L"PVR";
  RemoveLocked(oldId);
  props.erase("tevMediumId");
  return AddLocked(source, props);
}

namespace {

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNamePart(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }
bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// End of the name that starts at `i` (a scan, not a regular expression: the
// standard library's matcher recurses per character and a long client text
// would exhaust the stack).
size_t NameEnd(const std::string& text, size_t i) {
  while (i < text.size() && IsNamePart(text[i])) ++i;
  return i;
}

}  // namespace

std::map<std::string, std::string> MediaStore::ParseFilter(const std::wstring& filter) {
  // Every `name = "value"` in the text, leftmost first.
  std::map<std::string, std::string> terms;
  const std::string text = U8(filter);
  size_t i = 0;
  while (i < text.size()) {
    if (!IsNameStart(text[i])) {
      ++i;
      continue;
    }
    const size_t nameEnd = NameEnd(text, i);
    size_t at = nameEnd;
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at < text.size() && text[at] == '=') {
      ++at;
      while (at < text.size() && IsBlank(text[at])) ++at;
      if (at < text.size() && text[at] == '"') {
        const size_t close = text.find('"', at + 1);
        if (close == std::string::npos) break;  // no later term can close either
        terms[text.substr(i, nameEnd - i)] = text.substr(at + 1, close - at - 1);
        i = close + 1;
        continue;
      }
    }
    i = nameEnd;  // a start inside the same name ends at the same place
  }
  return terms;
}

std::vector<std::string> MediaStore::ParseFieldNames(const std::wstring& fields) {
  std::vector<std::string> names;
  const std::string text = U8(fields);
  size_t i = 0;
  while (i < text.size()) {
    if (!IsNameStart(text[i])) {
      ++i;
      continue;
    }
    const size_t end = NameEnd(text, i);
    names.push_back(text.substr(i, end - i));
    i = end;
  }
  return names;
}

int MediaStore::CallBack(VelSatellite& library, const json& props, const Value& in,
                         VARIANT* reply) {
  const std::wstring satellite = Prop(props, "sourceSatellite");
  const std::wstring method = Prop(props, "updateCallback");
  if (satellite.empty() || method.empty()) return 0;  // a source that takes no edits
  AutoVariant out, retcodes;
  const long result = library.Request(satellite, method, in.get(), &out, 0, &retcodes);
  if (result != 0) {
    throw VelException(L"UserEditMedium: " + satellite + L" " + method +
                       L" failed, bus result " + std::to_wstring(result));
  }
  if (reply != nullptr) Value(out.get()).CopyTo(reply);
  return static_cast<int>(VUtil::GetSingleRetcode(retcodes));
}

int MediaStore::UserEditMedium(VelSatellite& library, const VARIANT& in, VARIANT* out) {
  const std::wstring id = VUtil::GetStringElement(in, 0);
  AutoVariant pairs;
  VUtil::GetElement(in, 1, &pairs);
  const json changes = PairsToJson(pairs.get());
  json before, after;
  std::wstring source;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!GetLocked(id, &before)) {
      throw VelInvalidParameterException(L"UserEditMedium: no such medium " + id);
    }
    source = SourceLocked(id);
    after = before;
    after.update(changes);
    after["tevMediumId"] = U8(id);
    PutLocked(id, source, after);
  }
  int code = 0;
  try {
    code = CallBack(library, before,
                    Value::Array({Value::Long(0), Value::Str(id), Value(pairs.get())}), out);
  } catch (const VelException&) {
    Put(id, source, before);
    throw;
  }
  if (code != 0) Put(id, source, before);
  return code;
}

int MediaStore::UserDeleteMedium(VelSatellite& library, const VARIANT& in) {
  const std::wstring id = VUtil::GetStringElement(in, 0);
  json before;
  std::wstring source;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!GetLocked(id, &before)) {
      throw VelInvalidParameterException(L"UserDeleteMedium: no such medium " + id);
    }
    source = SourceLocked(id);
    RemoveLocked(id);
  }
  int code = 0;
  try {
    code = CallBack(library, before, Value::Array({Value::Long(1), Value::Str(id)}));
  } catch (const VelException&) {
    Put(id, source, before);
    throw;
  }
  if (code != 0) Put(id, source, before);
  return code;
}

void MediaStore::Attach(MediaLibraryPeer& peer) {
  peer.SetHandler(L"IsReady", [](const VARIANT&, VARIANT*) { return 0; });
  peer.SetHandler(L"UserEditMedium", [this, &peer](const VARIANT& in, VARIANT* out) {
    return UserEditMedium(peer, in, out);
  });
  peer.SetHandler(L"UserDeleteMedium",
                  [this, &peer](const VARIANT& in, VARIANT*) { return UserDeleteMedium(peer, in); });
  peer.SetHandler(L"AddMedium", [this](const VARIANT& in, VARIANT* out) {
    AutoVariant list;
    VUtil::GetElement(in, 1, &list);
    Value::Array({Value::Str(Add(VUtil::GetStringElement(in, 0), PairsToJson(list.get())))})
        .CopyTo(out);
    return 0;
  });
  peer.SetHandler(L"AddMedia", [this](const VARIANT& in, VARIANT* out) {
    const std::wstring source = VUtil::GetStringElement(in, 0);
    AutoVariant lists;
    VUtil::GetElement(in, 1, &lists);
    std::vector<Value> ids;
    for (long i = 0; i < VUtil::GetArrayLength(lists); ++i) {
      AutoVariant list;
      VUtil::GetElement(lists, i, &list);
      ids.push_back(Value::Str(Add(source, PairsToJson(list.get()))));
    }
    Value::Array({Value::Array(ids)}).CopyTo(out);
    return 0;
  });
  peer.SetHandler(L"GetMediumFromId", [this](const VARIANT& in, VARIANT* out) {
    json props;
    if (!Get(VUtil::GetStringElement(in, 1), &props)) {
      throw VelInvalidParameterException(L"GetMediumFromId: no such medium");
    }
    Value::Array({Value::Array({Value::Str(Prop(props, "mimeType")), Value::Str(Prop(props, "path"))})})
        .CopyTo(out);
    return 0;
  });
  peer.SetHandler(L"SearchMedia", [this](const VARIANT& in, VARIANT* out) {
    auto found = Find(ParseFilter(VUtil::GetStringElement(in, 1)));
    const std::vector<std::string> fields = ParseFieldNames(VUtil::GetStringElement(in, 2));
    const int32_t start = std::max(0, ReadInteger(in, 5));
    const int32_t count = ReadInteger(in, 6);
    std::vector<Value> records;
    for (size_t i = static_cast<size_t>(start);
         i < found.size() && (count <= 0 || records.size() < static_cast<size_t>(count)); ++i) {
      std::vector<Value> record{Value::Str(found[i].first)};
      for (const std::string& name : fields) {
        auto value = found[i].second.find(name);
        record.push_back(value == found[i].second.end() ? Value() : JsonToValue(*value));
      }
      records.push_back(Value::Array(record));
    }
    Value::Array({Value::Array({Value::Long(static_cast<int32_t>(found.size())), Value(), Value(),
                                Value(), Value::Array(records)})})
        .CopyTo(out);
    return 0;
  });
  peer.SetHandler(L"GetMediaFromSource", [this](const VARIANT& in, VARIANT* out) {
    const std::wstring source = VUtil::GetStringElement(in, 0);
    std::vector<std::string> names;
    AutoVariant wanted;
    VUtil::GetElement(in, 3, &wanted);
    for (long i = 0; i < VUtil::GetArrayLengthEmpty(wanted); ++i) {
      names.push_back(U8(VUtil::GetStringElement(wanted, i)));
    }
    std::vector<Value> media;
    for (const auto& medium : Find({{"source", U8(source)}})) {
      std::vector<Value> slots{Value::Str(source), Value::Str(Prop(medium.second, "path")),
                               Value::Str(medium.first)};
      for (const std::string& name : names) {
        auto value = medium.second.find(name);
        slots.push_back(value == medium.second.end() ? Value::Str(L"") : JsonToValue(*value));
      }
      media.push_back(Value::Array(slots));
    }
    Value::Array({Value::Array(media)}).CopyTo(out);
    return 0;
  });
  peer.SetHandler(L"RemoveImportedMedia", [this](const VARIANT& in, VARIANT*) {
    AutoVariant lists;
    VUtil::GetElement(in, 1, &lists);
    for (long i = 0; i < VUtil::GetArrayLength(lists); ++i) {
      AutoVariant list;
      VUtil::GetElement(lists, i, &list);
      std::wstring id;
      if (VUtil::FindPair(list.get(), L"tevMediumId", &id)) Remove(id);
    }
    return 0;
  });
  auto setAttributes = [this](const VARIANT& in, VARIANT*) {
    AutoVariant ids, pairs;
    VUtil::GetElement(in, 1, &ids);
    VUtil::GetElement(in, 2, &pairs);
    const json changes = PairsToJson(pairs.get());
    for (long i = 0; i < VUtil::GetArrayLength(ids); ++i) {
      const std::wstring id = VUtil::GetStringElement(ids, i);
      for (auto change = changes.begin(); change != changes.end(); ++change) {
        SetProperty(id, W(change.key()), change.value());
      }
    }
    return 0;
  };
  peer.SetHandler(L"SetMediaAttributes", setAttributes);
  peer.SetHandler(L"SetMediumAttributes", setAttributes);
  peer.SetHandler(L"SetMediaAttributeList", [this](const VARIANT& in, VARIANT*) {
    AutoVariant list;
    VUtil::GetElement(in, 1, &list);
    for (long i = 0; i < VUtil::GetArrayLength(list); ++i) {
      AutoVariant entry, pairs;
      VUtil::GetElement(list, i, &entry);
      VUtil::GetElement(entry, 1, &pairs);
      const std::wstring id = VUtil::GetStringElement(entry, 0);
      const json changes = PairsToJson(pairs.get());
      for (auto change = changes.begin(); change != changes.end(); ++change) {
        SetProperty(id, W(change.key()), change.value());
      }
    }
    return 0;
  });
  peer.SetHandler(L"ChangeMediaId", [this](const VARIANT& in, VARIANT* out) {
    AutoVariant keys;
    VUtil::GetElement(in, 0, &keys);
    std::vector<Value> ids;
    for (long i = 0; i < VUtil::GetArrayLength(keys); ++i) {
      ids.push_back(Value::Str(ChangeId(VUtil::GetStringElement(keys, i))));
    }
    Value::Array({Value::Array(ids)}).CopyTo(out);
    return 0;
  });
  peer.SetHandler(L"SetThumbnailUrl", [this](const VARIANT& in, VARIANT*) {
    SetProperty(VUtil::GetStringElement(in, 0), L"thumbnailUrl",
                U8(VUtil::GetStringElement(in, 1)));
    return 0;
  });
  peer.SetHandler(L"ProcessTranscodeUrl", [](const VARIANT& in, VARIANT* out) {
    Value::Array({Value::Str(VUtil::GetStringElement(in, 0))}).CopyTo(out);
    return 0;
  });
  peer.SetHandler(L"VideoThumbnailCallback", [](const VARIANT&, VARIANT*) { return 0; });
}

}  // namespace peers
}  // namespace tev
