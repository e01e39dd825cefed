#include "printcontrol/render/string_list.h"

#include <cstring>
#include <utility>

#include "printcontrol/job/ascii_text.h"

namespace kavelo::printcontrol {

namespace {

std::unique_ptr<char[]> CopyOf(const char* text) {
  size_t length = std::strlen(text);
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::memcpy(copy.get(), text, length + 1);
  return copy;
}

}  // namespace

StringList::StringList(const char* typeText) {
  if (typeText == nullptr) return;
  if (std::strcmp(typeText, "string1") == 0) {
    kind_ = kKindText;
  } else if (std::strcmp(typeText, "string2") == 0) {
    kind_ = kKindList;
  }
}

StringList::~StringList() = default;

StringList::StringList(StringList&& other) noexcept
    : kind_(other.kind_),
      capacity_(other.capacity_),
      text_(std::move(other.text_)),
      length_(other.length_),
      items_(std::move(other.items_)) {
  other.capacity_ = 0;
  other.length_ = 0;
  other.items_.clear();
}

StringList& StringList::operator=(StringList&& other) noexcept {
  if (this != &other) {
    kind_ = other.kind_;
    capacity_ = other.capacity_;
    text_ = std::move(other.text_);
    length_ = other.length_;
    items_ = std::move(other.items_);
    other.capacity_ = 0;
    other.length_ = 0;
    other.items_.clear();
  }
  return *this;
}

void StringList::Reserve(size_t needed) {
  // needed counts the terminating NUL.
  if (text_ != nullptr && needed <= static_cast<size_t>(capacity_)) return;
  // A new block is the need plus one, plus the slack, so that a run of small
  // appends does not move the text each time.
  size_t size = needed + 1 + kTextSlack;
  std::unique_ptr<char[]> block(new char[size]);
  if (text_ != nullptr) {
    std::memcpy(block.get(), text_.get(), length_ + 1);
  } else {
    block[0] = '\0';
  }
  text_ = std::move(block);
  capacity_ = static_cast<int>(size);
}

void StringList::AppendChar(char c) {
  if (kind_ != kKindText || c == '\0') return;
  Append(&c, 1);
}

void StringList::Append(const char* text) {
  if (kind_ != kKindText || text == nullptr || text[0] == '\0') return;
  Append(text, std::strlen(text));
}

void StringList::Append(const char* text, size_t length) {
  if (kind_ != kKindText || text == nullptr || length == 0) return;
  Reserve(length_ + length + 1);
  std::memcpy(text_.get() + length_, text, length);
  length_ += length;
  text_[length_] = '\0';
}

const char* StringList::Text() const { return kind_ == kKindText ? text_.get() : nullptr; }

int StringList::Length() const {
  if (kind_ == kKindText) return static_cast<int>(length_);
  if (kind_ == kKindList) return static_cast<int>(items_.size());
  return 0;
}

int StringList::Push(const char* text) {
  if (kind_ != kKindList) return 0;
  if (text == nullptr) return Count();
  if (static_cast<int>(items_.size()) >= capacity_) {
    capacity_ += kSlotStep;
    items_.reserve(static_cast<size_t>(capacity_));
  }
  items_.push_back(CopyOf(text));
  return Count();
}

void StringList::PopLast() {
  if (kind_ != kKindList || items_.empty()) return;
  items_.pop_back();
}

const char* StringList::Item(int index) const {
  if (kind_ != kKindList || index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

void StringList::AppendAll(const StringList& other) {
  if (kind_ != kKindList || other.kind_ != kKindList) return;
  // Counting first makes appending a list to itself double it once.
  int count = other.Count();
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<char[]> copy = CopyOf(other.Item(i));
    Push(copy.get());
  }
}

int StringList::PushUnique(const char* text) {
  if (kind_ != kKindList || text == nullptr) return 0;
  for (const auto& item : items_) {
    if (std::strcmp(item.get(), text) == 0) return 0;
  }
  return Push(text);
}

int StringList::IndexOf(const char* text) const {
  if (kind_ != kKindList || text == nullptr || text[0] == '\0') return -1;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (EqualsIgnoreCase(items_[i].get(), text)) return static_cast<int>(i);
  }
  return -1;
}

void StringList::Clear() {
  text_.reset();
  length_ = 0;
  items_.clear();
  items_.shrink_to_fit();
  capacity_ = 0;
}

}  // namespace kavelo::printcontrol
