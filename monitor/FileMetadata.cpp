#include "monitor/FileMetadata.h"

#include <taglib/asffile.h>
#include <taglib/asfproperties.h>
#include <taglib/asftag.h>
#include <taglib/tfilestream.h>

#include <exception>

#include "platform/WideText.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

namespace {

TagLib::String ToTagString(const std::wstring& text) {
  return TagLib::String(tev::ToStdUtf8(text), TagLib::String::UTF8);
}

std::wstring FromTagString(const TagLib::String& text) {
  return tev::FromStdUtf8(text.to8Bit(true));
}

void AppendLe(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// UTF-16LE with the terminator, as the SDK hands out text values.
std::vector<uint8_t> TextValue(const std::wstring& text) {
  std::vector<uint8_t> out;
  for (char16_t unit : tev::ToUtf16(text)) AppendLe(&out, unit, 2);
  AppendLe(&out, 0, 2);
  return out;
}

// The SDK's pseudo-attributes that live in the content description object.
enum class Described { kNone, kTitle, kAuthor, kCopyright, kDescription, kRating };

Described DescribedField(const std::wstring& name) {
  if (name == L"Title") return Described::kTitle;
  if (name == L"Author") return Described::kAuthor;
  if (name == L"Copyright") return Described::kCopyright;
  if (name == L"Description") return Described::kDescription;
  if (name == L"Rating") return Described::kRating;
  return Described::kNone;
}

}  // namespace

MetadataEditor::MetadataEditor() : m_lock(true) {}

MetadataEditor::~MetadataEditor() { CloseFileInLock(); }

void MetadataEditor::CloseFileInLock() {
  m_file.reset();  // the file before the stream it reads
  m_stream.reset();
  m_write = false;
}

HRESULT MetadataEditor::Open(const std::wstring& path, bool write) {
  if (path.empty()) return E_FAIL;
  m_lock.lock();
  if (m_file) {
    // This thread already has a file open.
    m_lock.unlock();
    return E_FAIL;
  }
  try {
    m_write = write;
    m_stream.reset(new TagLib::FileStream(tev::ToStdUtf8(path).c_str(), !write));
    if (!m_stream->isOpen() || (write && m_stream->readOnly())) {
      CloseFileInLock();
      m_lock.unlock();
      return E_FAIL;
    }
    m_file.reset(new TagLib::ASF::File(m_stream.get(), true));
    if (!m_file->isValid() || m_file->tag() == nullptr) {
      CloseFileInLock();
      m_lock.unlock();
      return E_FAIL;
    }
  } catch (const std::exception&) {
    CloseFileInLock();
    m_lock.unlock();
    return E_FAIL;
  }
  return S_OK;  // the lock stays held until Close
}

HRESULT MetadataEditor::Close() {
  PMutexLock lock(m_lock);  // recursive: taken by Open on this thread
  if (!m_file) return NS_E_INVALID_REQUEST;
  HRESULT result = S_OK;
  if (m_write) {
    try {
      if (!m_file->save()) result = E_FAIL;
    } catch (const std::exception&) {
      result = E_FAIL;
    }
    m_write = false;
  }
  CloseFileInLock();
  m_lock.unlock();  // the hold taken by Open
  return result;
}

HRESULT MetadataEditor::GetAttribute(const std::wstring& name, std::vector<uint8_t>* value,
                                     MetadataType* type) {
  PMutexLock lock(m_lock);
  if (!m_file) return NS_E_INVALID_REQUEST;
  value->clear();
  TagLib::ASF::Tag* tag = m_file->tag();

  if (name == L"Duration") {
    // The file's play duration (less the preroll), which TagLib gives in ms.
    const TagLib::ASF::Properties* properties = m_file->audioProperties();
    if (properties == nullptr || properties->lengthInMilliseconds() <= 0) return ASF_E_NOTFOUND;
    AppendLe(value, static_cast<uint64_t>(properties->lengthInMilliseconds()) * 10000, 8);
    *type = WMT_TYPE_QWORD;
    return S_OK;
  }

  TagLib::String described;
  switch (DescribedField(name)) {
    case Described::kTitle: described = tag->title(); break;
    case Described::kAuthor: described = tag->artist(); break;
    case Described::kCopyright: described = tag->copyright(); break;
    case Described::kDescription: described = tag->comment(); break;
    case Described::kRating: described = tag->rating(); break;
    case Described::kNone: {
      const TagLib::ASF::AttributeListMap& map = tag->attributeListMap();
      TagLib::ASF::AttributeListMap::ConstIterator it = map.find(ToTagString(name));
      if (it == map.end()) return ASF_E_NOTFOUND;
      for (const TagLib::ASF::Attribute& attribute : it->second) {
        if (attribute.stream() != 0) continue;
        switch (attribute.type()) {
          case TagLib::ASF::Attribute::UnicodeType:
            *value = TextValue(FromTagString(attribute.toString()));
            *type = WMT_TYPE_STRING;
            break;
          case TagLib::ASF::Attribute::BoolType:
            AppendLe(value, attribute.toBool() ? 1 : 0, 4);
            *type = WMT_TYPE_BOOL;
            break;
          case TagLib::ASF::Attribute::DWordType:
            AppendLe(value, attribute.toUInt(), 4);
            *type = WMT_TYPE_DWORD;
            break;
          case TagLib::ASF::Attribute::QWordType:
            AppendLe(value, attribute.toULongLong(), 8);
            *type = WMT_TYPE_QWORD;
            break;
          case TagLib::ASF::Attribute::WordType:
            AppendLe(value, attribute.toUShort(), 2);
            *type = WMT_TYPE_WORD;
            break;
          default: {
            TagLib::ByteVector bytes = attribute.toByteVector();
            value->assign(bytes.begin(), bytes.end());
            *type = attribute.type() == TagLib::ASF::Attribute::GuidType ? WMT_TYPE_GUID
                                                                        : WMT_TYPE_BINARY;
            break;
          }
        }
        return S_OK;
      }
      return ASF_E_NOTFOUND;
    }
  }
  if (described.isEmpty()) return ASF_E_NOTFOUND;
  *value = TextValue(FromTagString(described));
  *type = WMT_TYPE_STRING;
  return S_OK;
}

HRESULT MetadataEditor::SetTextAttribute(const std::wstring& name, const std::wstring& value) {
  PMutexLock lock(m_lock);
  if (!m_file) return NS_E_INVALID_REQUEST;
  if (name.empty()) return E_INVALIDARG;
  TagLib::ASF::Tag* tag = m_file->tag();
  const TagLib::String text = ToTagString(value);
  switch (DescribedField(name)) {
    case Described::kTitle: tag->setTitle(text); return S_OK;
    case Described::kAuthor: tag->setArtist(text); return S_OK;
    case Described::kCopyright: tag->setCopyright(text); return S_OK;
    case Described::kDescription: tag->setComment(text); return S_OK;
    case Described::kRating: tag->setRating(text); return S_OK;
    case Described::kNone: break;
  }
  const TagLib::String key = ToTagString(name);
  TagLib::ASF::AttributeListMap& map = tag->attributeListMap();
  TagLib::ASF::AttributeListMap::Iterator it = map.find(key);
  if (it == map.end() || it->second.isEmpty()) {
    tag->setAttribute(key, TagLib::ASF::Attribute(text));
    return S_OK;
  }
  // Every attribute of that name takes the value; language and stream stay.
  TagLib::ASF::AttributeList changed;
  for (const TagLib::ASF::Attribute& old : it->second) {
    TagLib::ASF::Attribute attribute(text);
    attribute.setLanguage(old.language());
    attribute.setStream(old.stream());
    changed.append(attribute);
  }
  it->second = changed;
  return S_OK;
}

std::wstring MetadataEditor::TextOfValue(const std::vector<uint8_t>& value, size_t maxChars) {
  std::u16string units;
  for (size_t i = 0; i + 1 < value.size(); i += 2) {
    char16_t unit = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  std::wstring text = tev::FromUtf16(units);
  if (text.size() > maxChars) text.resize(maxChars);
  return text;
}
