#pragma once

// A plug-in parameter: its range, step, display texts and current value.
//
// Constrain rule (what every Set goes through, and what a restore checks values against): a value that
// is not a number becomes the default; stepped parameters (enumerations, or a double declared with
// kFlagStepped) round to whole steps counted from the minimum, half-way away from zero; then the value
// is clamped to [min, max]. A double without kFlagStepped keeps its fractions: its step only sets how
// many decimals the display shows.
//
// Threads: the definition (Init..., SetDisplayText) happens in the plug-in's constructor. The value
// is an atomic read and written from any thread (host automation, the editor, a restore); readers see
// the whole of one value, never a torn one. Value, Int, Bool, GetNormalized are wait-free.

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

namespace iplug {

// Who changed a parameter; passed to OnParamChange.
enum EParamSource {
    kReset = 0,
    kHost = 1,
    kPresetRecall = 2,
    kUI = 3,
    kDelegate = 4,
    kRecompile = 5,
    kUnknown = 6,
};

class IParam {
public:
    enum EParamType { kTypeNone, kTypeDouble, kTypeEnum };

    enum EFlags {
        kFlagsNone = 0,
        kFlagCannotAutomate = 1 << 0, // the host offers no automation lane
        kFlagStepped = 1 << 1,        // values round to whole steps
    };

    IParam() = default;
    IParam(const IParam&) = delete;
    IParam& operator=(const IParam&) = delete;

    // A continuous parameter. Throws std::invalid_argument when min >= max, a bound, the default or
    // the step is not finite, or the step is not positive. The default is constrained.
    void InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                    const char* label = "", int flags = kFlagsNone);
    // An enumeration of the given texts, values 0..n-1, step 1, stepped. Throws std::invalid_argument
    // for an empty list.
    void InitEnum(const char* name, int defaultVal, std::initializer_list<const char*> listItems,
                  int flags = kFlagsNone);
    // An enumeration of nEnums values whose texts are set with SetDisplayText (default: the number).
    void InitEnum(const char* name, int defaultVal, int nEnums, const char* label = "",
                  int flags = kFlagsNone);
    // The text shown for one value (enumerations and stepped doubles).
    void SetDisplayText(double value, const char* text);

    // The constrain rule above, applied to a value; wait-free.
    double Constrain(double value) const noexcept;
    // Realtime: wait-free. Sets the constrained value.
    void Set(double value) noexcept;
    // Realtime: wait-free. Sets FromNormalized(normalizedValue).
    void SetNormalized(double normalizedValue) noexcept;
    // Sets the default value.
    void SetToDefault() noexcept;

    // Realtime: wait-free.
    double Value() const noexcept { return mValue.load(std::memory_order_relaxed); }
    // Realtime: wait-free. The value truncated toward zero (enumeration index).
    int Int() const noexcept { return static_cast<int>(Value()); }
    bool Bool() const noexcept { return Value() >= 0.5; }
    // Realtime: wait-free. 0..1 across the range.
    double GetNormalized() const noexcept { return ToNormalized(Value()); }
    // Linear position of a value in the range, clamped to 0..1 (NaN gives 0).
    double ToNormalized(double nonNormalizedValue) const noexcept;
    // The constrained value at a normalized position (clamped to 0..1; NaN gives the minimum).
    double FromNormalized(double normalizedValue) const noexcept;

    // The display text of the current value, or of a given value: the text set for it where there is
    // one, else the number with as many decimals as the step needs (the label is separate).
    std::string GetDisplay() const { return GetDisplay(Value()); }
    std::string GetDisplay(double value, bool normalized = false) const;
    int NDisplayTexts() const noexcept { return static_cast<int>(mDisplayTexts.size()); }
    // The i-th display text in declaration order ("" out of range); the value it belongs to in `value`.
    const char* GetDisplayTextAtIdx(int idx, double* value = nullptr) const noexcept;

    const char* GetName() const noexcept { return mName.c_str(); }
    const char* GetLabel() const noexcept { return mLabel.c_str(); }
    EParamType Type() const noexcept { return mType; }
    double GetDefault(bool normalized = false) const noexcept;
    double GetMin() const noexcept { return mMin; }
    double GetMax() const noexcept { return mMax; }
    double GetRange() const noexcept { return mMax - mMin; }
    double GetStep() const noexcept { return mStep; }
    int GetFlags() const noexcept { return mFlags; }
    bool GetCanAutomate() const noexcept { return (mFlags & kFlagCannotAutomate) == 0; }
    bool GetStepped() const noexcept { return (mFlags & kFlagStepped) != 0; }
    int GetDisplayPrecision() const noexcept { return mDisplayPrecision; }

private:
    struct DisplayText {
        double value;
        std::string text;
    };

    void Init(EParamType type, const char* name, double defaultVal, double minVal, double maxVal, double step,
              const char* label, int flags);

    static_assert(std::atomic<double>::is_always_lock_free, "parameter values are read on the audio thread");
    std::atomic<double> mValue{0.0};
    EParamType mType = kTypeNone;
    std::string mName;
    std::string mLabel;
    double mDefault = 0.0;
    double mMin = 0.0;
    double mMax = 1.0;
    double mStep = 1.0;
    int mFlags = kFlagsNone;
    int mDisplayPrecision = 0;
    std::vector<DisplayText> mDisplayTexts;
};

} // namespace iplug
