// TFilter (see filter.h).
#include "cursor/filter.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "expressions/exp_tree.h"
#include "expressions/expression_evaluator.h"
#include "expressions/text_word_search.h"
#include "storage/formats/record_layout.h"

namespace tarn {

namespace {

// A bitmap from the process's pool, returned when it goes.
class TPooledBitmap {
 public:
  explicit TPooledBitmap(const TRecordsBitmap& like) : bitmap_(GetNewRecordsBitmapInstance()) {
    bitmap_->SetNumOfBits(like.GetNumOfBits());
    bitmap_->ClearBits();
  }
  ~TPooledBitmap() { ReturnRecordsBitmapInstance(bitmap_); }
  TPooledBitmap(const TPooledBitmap&) = delete;
  TPooledBitmap& operator=(const TPooledBitmap&) = delete;
  TRecordsBitmap& operator*() noexcept { return *bitmap_; }
  TRecordsBitmap* operator->() noexcept { return bitmap_.get(); }

 private:
  std::unique_ptr<TRecordsBitmap> bitmap_;
};

// The current index position of the source, restored when it goes.
class TIndexPositionKeeper {
 public:
  explicit TIndexPositionKeeper(TFilterSource& source) : source_(source), position_(source.FilterIndexPosition()) {}
  ~TIndexPositionKeeper() { source_.RestoreFilterIndexPosition(position_); }
  TIndexPositionKeeper(const TIndexPositionKeeper&) = delete;
  TIndexPositionKeeper& operator=(const TIndexPositionKeeper&) = delete;

 private:
  TFilterSource& source_;
  std::uint8_t position_;
};

bool IsStopWord(const TTextIndexParams& params, const std::string& word) {
  return std::find(params.StopWords.begin(), params.StopWords.end(), word) != params.StopWords.end();
}

}  // namespace

TFilter::TFilter(TFilterSource& source, void* cursor, TExpTokenPtr expression, const TFilterOptions& options)
    : source_(source), cursor_(cursor), ownedExpression_(std::move(expression)),
      bitmap_(GetNewRecordsBitmapInstance()), options_(options) {
  expression_ = ownedExpression_.get();
  ComputeOptimizeLevel();
}

TFilter::TFilter(TFilterSource& source, void* cursor, TExpToken* expression, const TFilterOptions& options)
    : source_(source), cursor_(cursor), expression_(expression), bitmap_(GetNewRecordsBitmapInstance()),
      options_(options) {
  ComputeOptimizeLevel();
}

TFilter::TFilter(TFilterSource& source, void* cursor, std::int32_t callbackOwner, TFilterCallback callback,
                 const TFilterOptions& options)
    : source_(source), cursor_(cursor), callbackOwner_(callbackOwner), callback_(callback),
      bitmap_(GetNewRecordsBitmapInstance()), options_(options) {}

TFilter::~TFilter() { ReturnRecordsBitmapInstance(bitmap_); }

void TFilter::ComputeOptimizeLevel() {
  optimizeLevel_ = expression_ != nullptr
                       ? GetExpressionOptimizeLevel(source_, eoNOTDEFINED, *expression_, options_.CountCheck)
                       : olNone;
}

void TFilter::ResetFilterExpression(TExpTokenPtr expression) {
  ownedExpression_ = std::move(expression);
  expression_ = ownedExpression_.get();
  ComputeOptimizeLevel();
}

void TFilter::ResetFilterExpression(TExpToken* expression) {
  ownedExpression_.reset();
  expression_ = expression;
  ComputeOptimizeLevel();
}

bool TFilter::Update() {
  if (IsCallback() || expression_ == nullptr) return BuildNonIndexedBitmap(*bitmap_, nullptr, eoAND);
  // An inverted or indexed result may name records that were no candidates
  // (deleted ones among them): the filter keeps only candidates.
  TPooledBitmap candidates(*bitmap_);
  candidates->Assign(*bitmap_);
  if (!EvaluateFilter(*bitmap_, expression_, eoAND)) return false;
  bitmap_->AndBits(*candidates);
  return true;
}

void TFilter::UpdateRecord(std::int32_t recordNumber, const std::uint8_t* record) {
  if (recordNumber <= 0) return;
  if (recordNumber > bitmap_->GetNumOfBits()) bitmap_->SetNumOfBits(recordNumber);
  bitmap_->SetBit(recordNumber);
  if (!EvaluateRecord(expression_, record, recordNumber)) bitmap_->ClearBit(recordNumber);
}

void TFilter::DeleteRecord(std::int32_t recordNumber) noexcept { bitmap_->ClearBit(recordNumber); }

bool TFilter::EvaluateRecord(const TExpToken* node, const std::uint8_t* record, std::int32_t recordNumber) {
  if (IsCallback()) return callback_(callbackOwner_, cursor_, record, recordNumber);
  if (node == nullptr) return true;
  const TExpTokenPtr value =
      EvaluateExpressionToken(*node, record, source_.EvaluationContext(), source_.FieldCallback(),
                              source_.TextSearchCallback(), source_.FilterSortID(), source_.FilterLanguageID());
  if (value->IsNull) return false;
  std::uint16_t truth = 0;
  std::memcpy(&truth, value->ValueData(), sizeof truth);
  return truth != 0;
}

bool TFilter::EvaluateFilter(TRecordsBitmap& bitmap, TExpToken* node, TExpOperator parent) {
  // Operator nodes wait on a list of steps instead of recursing, so chains
  // of any length (a OR b OR c ...) are built with a flat stack. Each node's
  // result replaces the contents of the bitmap it is given; an AND or OR
  // builds its left operand in place and its right operand into a second
  // bitmap (for AND a copy of the left result, so that record evaluation
  // there reads only the records the left side kept; for OR all records).
  struct TStep {
    TExpToken* node;
    TRecordsBitmap* bitmap;
    TExpOperator parent;
    bool operandDone;
    std::unique_ptr<TRecordsBitmap> right;
  };
  struct TReturnBitmaps {
    std::vector<TStep>& steps;
    ~TReturnBitmaps() {
      for (TStep& step : steps)
        if (step.right) ReturnRecordsBitmapInstance(step.right);
    }
  };
  std::vector<TStep> steps;
  TReturnBitmaps returner{steps};
  steps.push_back({node, &bitmap, parent, false, nullptr});
  while (!steps.empty()) {
    TStep& step = steps.back();
    TExpToken* const current = step.node;
    TRecordsBitmap* const target = step.bitmap;
    if (current == nullptr) {
      steps.pop_back();
      continue;
    }
    const bool unary = current->NodeClass == enUNARY &&
                       (current->Operator == eoNOT || current->Operator == eoMINUS || current->Operator == eoPLUS);
    const bool binary = current->NodeClass == enBINARY && (current->Operator == eoAND || current->Operator == eoOR);
    if (!step.operandDone) {
      if (current->OptimizeLevel == olNone) {
        if (!BuildNonIndexedBitmap(*target, current, step.parent)) return false;
        steps.pop_back();
      } else if (unary || binary) {
        step.operandDone = true;
        steps.push_back({current->Left.get(), target, current->Operator, false, nullptr});
      } else {
        if (!IndexedNode(*target, *current)) return false;
        steps.pop_back();
      }
      continue;
    }
    if (unary) {
      if (current->Operator == eoNOT) target->NotBits();
      steps.pop_back();
      continue;
    }
    if (!step.right) {
      step.right = GetNewRecordsBitmapInstance();
      if (current->Operator == eoAND) {
        step.right->Assign(*target);
      } else {
        step.right->SetNumOfBits(target->GetNumOfBits());
        step.right->SetBits();
      }
      TRecordsBitmap* const right = step.right.get();
      steps.push_back({current->Right.get(), right, current->Operator, false, nullptr});
      continue;
    }
    if (current->Operator == eoAND)
      target->AndBits(*step.right);
    else
      target->OrBits(*step.right);
    ReturnRecordsBitmapInstance(step.right);
    steps.pop_back();
  }
  return true;
}

// The conditions an index answers: IS [NOT] NULL, comparisons, TEXTSEARCH,
// IN lists and BETWEEN. When the index the optimiser found is gone, the node
// is evaluated record by record instead.
bool TFilter::IndexedNode(TRecordsBitmap& bitmap, TExpToken& node) {
  TIndexPositionKeeper keeper(source_);
  bool upper = false;
  if (node.NodeClass == enUNARY && (node.Operator == eoISBLANK || node.Operator == eoNOTBLANK)) {
    const TExpToken* field = node.Left.get();
    if (field == nullptr || !ChangeToRangeIndex(source_, IndexWantedFor(*field, false, false, true)))
      return BuildNonIndexedBitmap(bitmap, &node, eoNOTDEFINED);
    return BuildIndexedBitmap(bitmap, node.Operator, nullptr, 0);
  }
  if (node.NodeClass == enBINARY || node.NodeClass == enCOMPARE) {
    const TExpToken* left = node.Left.get();
    const TExpToken* right = node.Right.get();
    if (IsTextSearchFunc(left)) {
      const TExpToken* search = left->GetArgumentExpToken(0);
      const TExpToken* column = left->GetArgumentExpToken(1);
      if (search == nullptr || column == nullptr || !source_.ChangeToTextIndex(column->FieldNumber))
        return BuildNonIndexedBitmap(bitmap, &node, eoNOTDEFINED);
      return BuildTextSearchBitmap(bitmap, column->FieldNumber, search->StringValue());
    }
    const TExpToken* field = KeyFieldOf(left, upper);
    const bool compare = node.NodeClass == enCOMPARE;
    const bool caseInsensitive = upper || (compare && node.CaseInsensitive);
    if (field == nullptr || right == nullptr ||
        !ChangeToRangeIndex(source_, IndexWantedFor(*field, upper, caseInsensitive, false)))
      return BuildNonIndexedBitmap(bitmap, &node, eoNOTDEFINED);
    return BuildIndexedBitmap(bitmap, node.Operator, right, compare ? node.PartialLength : 0);
  }
  if (node.NodeClass == enEXTBINARY) {
    const TExpToken* field = KeyFieldOf(node.GetArgumentExpToken(0), upper);
    if (field == nullptr || !ChangeToRangeIndex(source_, IndexWantedFor(*field, upper, upper, false)))
      return BuildNonIndexedBitmap(bitmap, &node, eoNOTDEFINED);
    if (node.Operator == eoBETWEEN || node.Operator == eoNOTBETWEEN)
      return BuildIndexedRangeBitmap(bitmap, node.Operator, node.GetArgumentExpToken(1), node.GetArgumentExpToken(2));
    if (node.Operator == eoIN || node.Operator == eoNOTIN) {
      TPooledBitmap all(bitmap);
      TPooledBitmap one(bitmap);
      for (std::size_t i = 1; i < node.ArgumentCount(); ++i) {
        if (!BuildIndexedBitmap(*one, eoEQ, node.GetArgumentExpToken(i), 0)) return false;
        all->OrBits(*one);
      }
      bitmap.Assign(*all);
      if (node.Operator == eoNOTIN) bitmap.NotBits();
      return true;
    }
  }
  return BuildNonIndexedBitmap(bitmap, &node, eoNOTDEFINED);
}

bool TFilter::BuildIndexedBitmap(TRecordsBitmap& bitmap, TExpOperator op, const TExpToken* constant,
                                 std::int32_t partialLength) {
  const TKeyRange range = MakeKeyRange(CurrentRangeIndex(source_), op, constant, nullptr, partialLength);
  return BuildRangeBitmap(bitmap, range);
}

bool TFilter::BuildIndexedRangeBitmap(TRecordsBitmap& bitmap, TExpOperator op, const TExpToken* low,
                                      const TExpToken* high) {
  const TKeyRange range = MakeKeyRange(CurrentRangeIndex(source_), op, low, high, 0);
  return BuildRangeBitmap(bitmap, range);
}

bool TFilter::BuildRangeBitmap(TRecordsBitmap& bitmap, const TKeyRange& range) {
  if (range.Empty) {
    bitmap.ClearBits();
  } else {
    bool complement = false;
    if (CountCheck() && source_.FilterLanguageID() == 0) {
      std::int64_t count = 0;
      if (!source_.CountIndexedRecords(range.Low.data(), range.High.data(), count)) return false;
      const std::int64_t actual = source_.FilterActualRecordCount();
      complement = actual - count < count;
    }
    if (complement) {
      if (!BuildOptimizedIndexedBitmap(bitmap, range.Low.data(), range.High.data())) return false;
    } else if (!source_.NavigateIndexedRecords(range.Low.data(), range.High.data(), bitmap)) {
      return false;
    }
    if (range.ExcludeEqual) {
      TPooledBitmap equal(bitmap);
      if (!source_.NavigateIndexedRecords(range.EqualLow.data(), range.EqualHigh.data(), *equal)) return false;
      equal->NotBits();
      bitmap.AndBits(*equal);
    }
  }
  if (range.Invert) bitmap.NotBits();
  return true;
}

bool TFilter::BuildOptimizedIndexedBitmap(TRecordsBitmap& bitmap, const std::uint8_t* low, const std::uint8_t* high) {
  const TKeyRangeIndex index = CurrentRangeIndex(source_);
  const std::size_t size = index.KeySize;
  const bool descending = index.Layout.Descending;
  std::vector<std::uint8_t> from(size), to(size);
  TPooledBitmap outside(bitmap);
  TPooledBitmap part(bitmap);
  // The keys before the range in index order (byte order reversed on a
  // descending index), then the keys after it.
  if (descending) FillAllHighBytes(index, from.data()); else FillAllLowBytes(index, from.data());
  std::memcpy(to.data(), low, size);
  const bool before = descending ? IncLastByte(index, to.data(), size - 1) : DecLastByte(index, to.data(), size - 1);
  if (before) {
    if (!source_.NavigateIndexedRecords(from.data(), to.data(), *part)) return false;
    outside->OrBits(*part);
  }
  std::memcpy(from.data(), high, size);
  const bool after = descending ? DecLastByte(index, from.data(), size - 1) : IncLastByte(index, from.data(), size - 1);
  if (descending) FillAllLowBytes(index, to.data()); else FillAllHighBytes(index, to.data());
  if (after) {
    if (!source_.NavigateIndexedRecords(from.data(), to.data(), *part)) return false;
    outside->OrBits(*part);
  }
  outside->NotBits();
  bitmap.Assign(*outside);
  return true;
}

bool TFilter::BuildNonIndexedBitmap(TRecordsBitmap& bitmap, const TExpToken* node, TExpOperator parent) {
  const std::uint8_t* record = nullptr;
  if (parent == eoAND) {
    std::int32_t r = 0, counter = 0;
    while (bitmap.GetNextBitsSet(r, 1, counter)) {
      if (!source_.ReadFilterRecord(r, record)) return false;
      if (!EvaluateRecord(node, record, r)) bitmap.ClearBit(r);
    }
    return true;
  }
  bitmap.SetBits();
  const std::int32_t n = bitmap.GetNumOfBits();
  for (std::int32_t r = 1; r <= n; ++r) {
    if (!source_.ReadFilterRecord(r, record)) return false;
    if (record[kRecordDeletedOffset] != kRecordLive) continue;
    if (!EvaluateRecord(node, record, r)) bitmap.ClearBit(r);
  }
  return true;
}

bool TFilter::BuildTextSearchBitmap(TRecordsBitmap& bitmap, std::uint16_t fieldNumber, const std::string& searchText) {
  const TTextIndexParams& params = source_.FilterTextIndexParams();
  const std::vector<TTextWord> words =
      CreateWordsList(searchText, true, params, source_.FilterLanguageID(), source_.FilterSortID());
  const TKeyRangeIndex index = CurrentRangeIndex(source_);
  TPooledBitmap work(bitmap);
  for (const TTextWord& entry : words) {
    std::string word = entry.Word;
    std::int32_t partial = 0;
    if (!word.empty() && word.back() == '*') {
      word.pop_back();
      partial = static_cast<std::int32_t>(word.size());
      if (word.empty()) continue;
    } else if (IsStopWord(params, word)) {
      continue;
    }
    const TKeyRange range = MakeTextWordRange(index, fieldNumber, word, partial);
    if (range.Empty) {
      bitmap.ClearBits();
      continue;
    }
    if (!source_.NavigateIndexedRecords(range.Low.data(), range.High.data(), *work)) return false;
    bitmap.AndBits(*work);
  }
  return true;
}

}  // namespace tarn
