#include "framework/param.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace iplug {
namespace {

// Decimals needed to show a value that moves in the given step: 0.1 -> 1, 0.25 -> 2, 1 -> 0.
int PrecisionForStep(double step) {
    for (int decimals = 0; decimals < 6; ++decimals) {
        const double scaled = step * std::pow(10.0, decimals);
        if (std::abs(scaled - std::round(scaled)) < 1e-9 * std::max(1.0, scaled))
            return decimals;
    }
    return 6;
}

} // namespace

void IParam::Init(EParamType type, const char* name, double defaultVal, double minVal, double maxVal,
                  double step, const char* label, int flags) {
    // An enumeration of one value has min == max; every other range is wider than a point.
    const bool rangeOk = type == kTypeEnum ? minVal <= maxVal : minVal < maxVal;
    if (!std::isfinite(minVal) || !std::isfinite(maxVal) || !rangeOk)
        throw std::invalid_argument(std::string("Parameter \"") + (name ? name : "") +
                                    "\" needs a finite range with minimum below maximum.");
    if (!std::isfinite(step) || step <= 0.0 || !std::isfinite(defaultVal))
        throw std::invalid_argument(std::string("Parameter \"") + (name ? name : "") +
                                    "\" needs a finite default and a positive finite step.");
    mType = type;
    mName = name ? name : "";
    mLabel = label ? label : "";
    mMin = minVal;
    mMax = maxVal;
    mStep = step;
    mFlags = flags;
    mDisplayPrecision = PrecisionForStep(step);
    mDisplayTexts.clear();
    // Constrain reads mDefault for a NaN value; the default itself is finite here.
    mDefault = defaultVal;
    mDefault = Constrain(defaultVal);
    mValue.store(mDefault, std::memory_order_relaxed);
}

void IParam::InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                        const char* label, int flags) {
    Init(kTypeDouble, name, defaultVal, minVal, maxVal, step, label, flags);
}

void IParam::InitEnum(const char* name, int defaultVal, std::initializer_list<const char*> listItems,
                      int flags) {
    InitEnum(name, defaultVal, static_cast<int>(listItems.size()), "", flags);
    int i = 0;
    for (const char* item : listItems)
        SetDisplayText(i++, item);
}

void IParam::InitEnum(const char* name, int defaultVal, int nEnums, const char* label, int flags) {
    if (nEnums < 1)
        throw std::invalid_argument(std::string("Enumeration \"") + (name ? name : "") + "\" needs a value.");
    Init(kTypeEnum, name, defaultVal, 0.0, nEnums - 1, 1.0, label, flags | kFlagStepped);
}

void IParam::SetDisplayText(double value, const char* text) {
    const std::string t = text ? text : "";
    for (auto& d : mDisplayTexts)
        if (d.value == value) {
            d.text = t;
            return;
        }
    mDisplayTexts.push_back({value, t});
}

double IParam::Constrain(double value) const noexcept {
    if (std::isnan(value))
        return mDefault;
    if (GetStepped() && std::isfinite(value))
        value = mMin + std::round((value - mMin) / mStep) * mStep;
    return std::clamp(value, mMin, mMax);
}

void IParam::Set(double value) noexcept {
    mValue.store(Constrain(value), std::memory_order_relaxed);
}

void IParam::SetNormalized(double normalizedValue) noexcept {
    Set(FromNormalized(normalizedValue));
}

void IParam::SetToDefault() noexcept {
    mValue.store(mDefault, std::memory_order_relaxed);
}

double IParam::ToNormalized(double nonNormalizedValue) const noexcept {
    if (mMax <= mMin || std::isnan(nonNormalizedValue))
        return 0.0;
    return std::clamp((nonNormalizedValue - mMin) / (mMax - mMin), 0.0, 1.0);
}

double IParam::FromNormalized(double normalizedValue) const noexcept {
    const double n = std::isnan(normalizedValue) ? 0.0 : std::clamp(normalizedValue, 0.0, 1.0);
    return Constrain(mMin + n * (mMax - mMin));
}

double IParam::GetDefault(bool normalized) const noexcept {
    return normalized ? ToNormalized(mDefault) : mDefault;
}

std::string IParam::GetDisplay(double value, bool normalized) const {
    if (normalized)
        value = FromNormalized(value);
    for (const auto& d : mDisplayTexts)
        if (d.value == value)
            return d.text;
    // An enumeration shows its index truncated, as Int() reads it.
    if (mType == kTypeEnum)
        return std::to_string(static_cast<int>(value));
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", mDisplayPrecision, value);
    return text;
}

const char* IParam::GetDisplayTextAtIdx(int idx, double* value) const noexcept {
    if (idx < 0 || idx >= NDisplayTexts())
        return "";
    if (value)
        *value = mDisplayTexts[static_cast<std::size_t>(idx)].value;
    return mDisplayTexts[static_cast<std::size_t>(idx)].text.c_str();
}

} // namespace iplug
