// Packing expression trees into byte buffers and reading them back.
#include "expressions/exp_token_pack.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "core/errors.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_layer.h"

namespace tarn {

namespace {

// Item count of one record and the bytes of its fixed-size items.
constexpr std::size_t kItemsPerRecord = 18;
constexpr std::size_t kFixedItemBytes = 1 + 1 + 1 + 2 + 4 + 1 + 4 + 1 + 1 + 1 + 1 + 4 + 4 + 4 + 4;
constexpr std::size_t kMinRecordBytes = kItemsPerRecord * 4 + kFixedItemBytes;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PatchU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutItem(std::vector<std::uint8_t>& out, const void* data, std::size_t length) {
  PutU32(out, static_cast<std::uint32_t>(length));
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), bytes, bytes + length);
}

void PutByte(std::vector<std::uint8_t>& out, std::uint8_t v) { PutItem(out, &v, 1); }

void PutInt(std::vector<std::uint8_t>& out, std::uint32_t v, std::size_t width) {
  PutU32(out, static_cast<std::uint32_t>(width));
  for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Returns the position of a 4-byte link item's value, for patching.
std::size_t PutLinkPlaceholder(std::vector<std::uint8_t>& out) {
  PutU32(out, 4);
  const std::size_t at = out.size();
  PutU32(out, 0);
  return at;
}

std::uint32_t CheckedOffset(std::size_t offset) {
  if (offset > std::numeric_limits<std::uint32_t>::max()) RaiseError(TARN_FILECORRUPT);
  return static_cast<std::uint32_t>(offset);
}

struct LinkSlots {
  std::size_t left, right, count, arguments;
};

LinkSlots PutRecord(std::vector<std::uint8_t>& out, const TExpToken& node) {
  PutItem(out, node.Text.data(), node.Text.size());
  PutByte(out, node.NodeClass);
  PutByte(out, node.Operator);
  PutByte(out, node.OptimizeLevel);
  const std::size_t nameLength = std::min(node.FieldName.size(), TExpToken::kMaxShortString);
  PutItem(out, node.FieldName.data(), nameLength);
  PutInt(out, node.FieldNumber, 2);
  const auto size = static_cast<std::size_t>(std::clamp<std::int32_t>(
      node.DataSize, 0, static_cast<std::int32_t>(node.Value.size())));
  PutInt(out, static_cast<std::uint32_t>(size), 4);
  PutItem(out, node.Value.data(), size);
  PutByte(out, node.IsNull ? 1 : 0);
  PutInt(out, static_cast<std::uint32_t>(node.PartialLength), 4);
  PutByte(out, node.CaseInsensitive ? 1 : 0);
  PutByte(out, node.DataType);
  PutByte(out, node.SubType);
  PutByte(out, node.Decimals);
  LinkSlots slots{};
  slots.left = PutLinkPlaceholder(out);
  slots.right = PutLinkPlaceholder(out);
  slots.count = PutLinkPlaceholder(out);
  slots.arguments = PutLinkPlaceholder(out);
  return slots;
}

void PackNode(std::vector<std::uint8_t>& out, const TExpToken* node) {
  if (node == nullptr) {
    // An empty argument entry travels as a record of class enNULL.
    TExpTokenPtr empty = GetNewExpTokenInstance();
    PutRecord(out, *empty);
    return;
  }
  const LinkSlots slots = PutRecord(out, *node);
  if (node->Left) {
    PatchU32(out, slots.left, CheckedOffset(out.size()));
    PackNode(out, node->Left.get());
  }
  if (node->Right) {
    PatchU32(out, slots.right, CheckedOffset(out.size()));
    PackNode(out, node->Right.get());
  }
  PatchU32(out, slots.count, CheckedOffset(node->Arguments.size()));
  if (!node->Arguments.empty()) {
    PatchU32(out, slots.arguments, CheckedOffset(out.size()));
    for (const auto& argument : node->Arguments) PackNode(out, argument.get());
  }
}

class TPackReader {
 public:
  explicit TPackReader(std::span<const std::uint8_t> buffer) : buffer_(buffer) {}

  TExpTokenPtr ReadNode(int depth) {
    if (depth > kMaxExpressionDepth) Corrupt();
    if (Remaining() < kMinRecordBytes) Corrupt();
    TExpTokenPtr node = GetNewExpTokenInstance();
    const std::size_t textLength = ItemLength(Remaining());
    node->Text.assign(reinterpret_cast<const char*>(Take(textLength)), textLength);
    const std::uint8_t nodeClass = ReadFixed(1);
    if (nodeClass > kLastExpNodeClass) Corrupt();
    node->NodeClass = static_cast<TExpNodeClass>(nodeClass);
    const std::uint8_t op = ReadFixed(1);
    if (op > kLastExpOperator) Corrupt();
    node->Operator = static_cast<TExpOperator>(op);
    const std::uint8_t level = ReadFixed(1);
    if (level > olFull) Corrupt();
    node->OptimizeLevel = static_cast<TOptimizeLevel>(level);
    const std::size_t nameLength = ItemLength(TExpToken::kMaxShortString);
    node->FieldName.assign(reinterpret_cast<const char*>(Take(nameLength)), nameLength);
    node->FieldNumber = static_cast<std::uint16_t>(ReadFixed(2));
    const std::uint32_t dataSize = ReadFixed(4);
    if (dataSize > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) Corrupt();
    const std::size_t valueLength = ItemLength(Remaining());
    if (valueLength != dataSize) Corrupt();
    node->SetDataSize(static_cast<std::int32_t>(dataSize));
    if (valueLength != 0) std::memcpy(node->Value.data(), Take(valueLength), valueLength);
    node->IsNull = ReadFlag();
    node->PartialLength = static_cast<std::int32_t>(ReadFixed(4));
    node->CaseInsensitive = ReadFlag();
    node->DataType = static_cast<std::uint8_t>(ReadFixed(1));
    node->SubType = static_cast<std::uint8_t>(ReadFixed(1));
    node->Decimals = static_cast<std::uint8_t>(ReadFixed(1));
    const std::uint32_t leftLink = ReadFixed(4);
    const std::uint32_t rightLink = ReadFixed(4);
    const std::uint32_t argumentCount = ReadFixed(4);
    const std::uint32_t argumentsLink = ReadFixed(4);
    if (leftLink != 0) {
      // The left record follows directly; its link must say exactly where.
      if (leftLink != pos_) Corrupt();
      node->Left = ReadNode(depth + 1);
      node->Left->Parent = node.get();
    }
    if (rightLink != 0) {
      if (rightLink != pos_) Corrupt();
      node->Right = ReadNode(depth + 1);
      node->Right->Parent = node.get();
    }
    if ((argumentCount == 0) != (argumentsLink == 0)) Corrupt();
    if (argumentCount != 0) {
      if (argumentsLink != pos_) Corrupt();
      if (argumentCount > Remaining() / kMinRecordBytes) Corrupt();
      node->Arguments.resize(argumentCount);
      for (std::uint32_t i = 0; i < argumentCount; ++i) {
        TExpTokenPtr argument = ReadNode(depth + 1);
        if (argument->NodeClass == enNULL) continue;  // an empty entry
        argument->Parent = node.get();
        node->Arguments[i] = std::move(argument);
      }
    }
    return node;
  }

  bool AtEnd() const noexcept { return pos_ == buffer_.size(); }

 private:
  [[noreturn]] static void Corrupt() { RaiseError(TARN_FILECORRUPT); }

  std::size_t Remaining() const noexcept { return buffer_.size() - pos_; }

  std::uint32_t RawU32() {
    if (Remaining() < 4) Corrupt();
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(buffer_[pos_ + static_cast<std::size_t>(i)]) << (8 * i);
    pos_ += 4;
    return v;
  }

  std::size_t ItemLength(std::size_t maximum) {
    const std::uint32_t length = RawU32();
    if (length > maximum || length > Remaining()) Corrupt();
    return length;
  }

  const std::uint8_t* Take(std::size_t length) {
    if (length > Remaining()) Corrupt();
    const std::uint8_t* at = buffer_.data() + pos_;
    pos_ += length;
    return at;
  }

  std::uint32_t ReadFixed(std::size_t width) {
    if (RawU32() != width) Corrupt();
    const std::uint8_t* bytes = Take(width);
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return v;
  }

  bool ReadFlag() {
    const std::uint32_t v = ReadFixed(1);
    if (v > 1) Corrupt();
    return v == 1;
  }

  std::span<const std::uint8_t> buffer_;
  std::size_t pos_ = 0;
};

}  // namespace

std::size_t GetTotalPackSize(const TExpToken& node) {
  const std::size_t size = static_cast<std::size_t>(std::clamp<std::int32_t>(
      node.DataSize, 0, static_cast<std::int32_t>(node.Value.size())));
  return kMinRecordBytes + node.Text.size() + std::min(node.FieldName.size(), TExpToken::kMaxShortString) + size;
}

std::size_t GetTreePackSize(const TExpToken& node) {
  std::size_t total = GetTotalPackSize(node);
  if (node.Left) total += GetTreePackSize(*node.Left);
  if (node.Right) total += GetTreePackSize(*node.Right);
  for (const auto& argument : node.Arguments) total += argument ? GetTreePackSize(*argument) : kMinRecordBytes;
  return total;
}

void PackExpressionTokens(const TExpToken* root, std::vector<std::uint8_t>& buffer) {
  buffer.clear();
  if (root == nullptr) return;
  buffer.reserve(GetTreePackSize(*root));
  PackNode(buffer, root);
}

TExpTokenPtr UnpackExpressionTokens(std::span<const std::uint8_t> buffer) {
  if (buffer.empty()) return {};
  TPackReader reader(buffer);
  TExpTokenPtr root = reader.ReadNode(1);
  if (!reader.AtEnd()) RaiseError(TARN_FILECORRUPT);
  return root;
}

}  // namespace tarn
