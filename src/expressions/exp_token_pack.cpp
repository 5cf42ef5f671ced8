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

// Writes the records in pre-order (a node, its Left subtree, its Right
// subtree, then each argument with its subtree), keeping the pending nodes
// in a list instead of recursing, so chains of any length are packed with a
// flat stack. A pending node carries the link slot of its parent's record
// that must point to its own record.
void PackTree(std::vector<std::uint8_t>& out, const TExpToken& root) {
  constexpr std::size_t kNoLink = static_cast<std::size_t>(-1);
  struct TPending {
    const TExpToken* node;  // none for an empty argument entry
    std::size_t link;
  };
  TExpTokenPtr empty;
  std::vector<TPending> pending{{&root, kNoLink}};
  while (!pending.empty()) {
    const TPending next = pending.back();
    pending.pop_back();
    if (next.link != kNoLink) PatchU32(out, next.link, CheckedOffset(out.size()));
    if (next.node == nullptr) {
      // An empty argument entry travels as a record of class enNULL.
      if (!empty) empty = GetNewExpTokenInstance();
      PutRecord(out, *empty);
      continue;
    }
    const TExpToken& node = *next.node;
    const LinkSlots slots = PutRecord(out, node);
    PatchU32(out, slots.count, CheckedOffset(node.Arguments.size()));
    for (std::size_t i = node.Arguments.size(); i-- > 0;)
      pending.push_back({node.Arguments[i].get(), i == 0 ? slots.arguments : kNoLink});
    if (node.Right) pending.push_back({node.Right.get(), slots.right});
    if (node.Left) pending.push_back({node.Left.get(), slots.left});
  }
}

class TPackReader {
 public:
  explicit TPackReader(std::span<const std::uint8_t> buffer) : buffer_(buffer) {}

  // Reads the tree whose root record starts at the current position. The
  // records are in pre-order; the nodes whose operands are still to come are
  // kept in a list instead of recursing, so chains of any length are read
  // with a flat stack. Calls (functions and extended predicates) may nest
  // no deeper than parsed text can make them.
  TExpTokenPtr ReadTree() {
    struct TOpen {
      TExpToken* node;
      TLinks links;
      int calls;  // functions and extended predicates from the root down to this node
      int stage;  // 0 Left next, 1 Right next, 2 arguments, 3 done
      std::uint32_t nextArgument;
    };
    TLinks rootLinks{};
    TExpTokenPtr root = ReadRecord(rootLinks);
    std::vector<TOpen> open;
    auto opened = [&](TExpToken& node, const TLinks& links, int outerCalls) {
      const int calls = outerCalls + (node.NodeClass == enFUNC || node.NodeClass == enEXTBINARY ? 1 : 0);
      if (calls > kMaxCallNesting) Corrupt();
      open.push_back({&node, links, calls, 0, 0});
    };
    opened(*root, rootLinks, 0);
    while (!open.empty()) {
      const std::size_t top = open.size() - 1;
      TExpToken& node = *open[top].node;
      const TLinks links = open[top].links;
      const int calls = open[top].calls;
      TLinks childLinks{};
      switch (open[top].stage) {
        case 0:
          open[top].stage = 1;
          if (links.left != 0) {
            // The left record follows directly; its link must say exactly where.
            if (links.left != pos_) Corrupt();
            node.Left = ReadRecord(childLinks);
            node.Left->Parent = &node;
            opened(*node.Left, childLinks, calls);
          }
          break;
        case 1:
          open[top].stage = 2;
          if (links.right != 0) {
            if (links.right != pos_) Corrupt();
            node.Right = ReadRecord(childLinks);
            node.Right->Parent = &node;
            opened(*node.Right, childLinks, calls);
          }
          break;
        case 2: {
          const std::uint32_t index = open[top].nextArgument;
          if (index == 0) {
            if ((links.argumentCount == 0) != (links.arguments == 0)) Corrupt();
            if (links.argumentCount == 0) {
              open[top].stage = 3;
              break;
            }
            if (links.arguments != pos_) Corrupt();
            if (links.argumentCount > Remaining() / kMinRecordBytes) Corrupt();
            node.Arguments.resize(links.argumentCount);
          }
          if (index == links.argumentCount) {
            open[top].stage = 3;
            break;
          }
          open[top].nextArgument = index + 1;
          node.Arguments[index] = ReadRecord(childLinks);
          node.Arguments[index]->Parent = &node;
          opened(*node.Arguments[index], childLinks, calls);
          break;
        }
        default:
          // An empty argument entry (a record of class enNULL) is no argument.
          for (auto& argument : node.Arguments)
            if (argument && argument->NodeClass == enNULL) argument.reset();
          open.pop_back();
          break;
      }
    }
    return root;
  }

  bool AtEnd() const noexcept { return pos_ == buffer_.size(); }

 private:
  struct TLinks {
    std::uint32_t left, right, argumentCount, arguments;
  };

  [[noreturn]] static void Corrupt() { RaiseError(TARN_FILECORRUPT); }

  // One record: the node's own fields, and the links to its operands.
  TExpTokenPtr ReadRecord(TLinks& links) {
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
    links.left = ReadFixed(4);
    links.right = ReadFixed(4);
    links.argumentCount = ReadFixed(4);
    links.arguments = ReadFixed(4);
    return node;
  }

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
  std::size_t total = 0;
  std::vector<const TExpToken*> pending{&node};
  while (!pending.empty()) {
    const TExpToken* next = pending.back();
    pending.pop_back();
    if (next == nullptr) {
      total += kMinRecordBytes;  // an empty argument entry
      continue;
    }
    total += GetTotalPackSize(*next);
    if (next->Left) pending.push_back(next->Left.get());
    if (next->Right) pending.push_back(next->Right.get());
    for (const auto& argument : next->Arguments) pending.push_back(argument.get());
  }
  return total;
}

void PackExpressionTokens(const TExpToken* root, std::vector<std::uint8_t>& buffer) {
  buffer.clear();
  if (root == nullptr) return;
  buffer.reserve(GetTreePackSize(*root));
  PackTree(buffer, *root);
}

TExpTokenPtr UnpackExpressionTokens(std::span<const std::uint8_t> buffer) {
  if (buffer.empty()) return {};
  TPackReader reader(buffer);
  TExpTokenPtr root = reader.ReadTree();
  if (!reader.AtEnd()) RaiseError(TARN_FILECORRUPT);
  return root;
}

}  // namespace tarn
