// A medium's property list as the media library takes it: named values,
// each a text or an integer, in the order they are sent. Names may repeat
// ("tags", one word each).
#ifndef TEV_SUPPORT_MEDIUMPROPERTIES_H_
#define TEV_SUPPORT_MEDIUMPROPERTIES_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct MediumProperty {
  std::wstring name;
  bool isNumber = false;
  std::wstring text;   // when !isNumber
  int32_t number = 0;  // when isNumber
};

class MediumProperties {
 public:
  void Add(std::wstring name, std::wstring text) {
    MediumProperty property;
    property.name = std::move(name);
    property.text = std::move(text);
    items_.push_back(std::move(property));
  }
  void Add(std::wstring name, const wchar_t* text) { Add(std::move(name), std::wstring(text)); }
  void Add(std::wstring name, int32_t number) {
    MediumProperty property;
    property.name = std::move(name);
    property.isNumber = true;
    property.number = number;
    items_.push_back(std::move(property));
  }
  void Reserve(size_t count) { items_.reserve(count); }

  const std::vector<MediumProperty>& Items() const { return items_; }
  size_t Size() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const MediumProperty& operator[](size_t i) const { return items_[i]; }

 private:
  std::vector<MediumProperty> items_;
};

#endif  // TEV_SUPPORT_MEDIUMPROPERTIES_H_
