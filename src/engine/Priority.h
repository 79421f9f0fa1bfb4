#pragma once

#include <cstdint>
#include <string>

inline constexpr int RandomFacilityIndex = 24;
inline constexpr int RandomLevelIndex = 8;

// The priority controls, read for every message.
class PriorityInputs {
public:
    virtual ~PriorityInputs() = default;
    virtual bool ChkPriorityChecked() const = 0;
    virtual std::string TxtPriorityText() const = 0;
    virtual int FacilityIndex() const = 0; // 0..23, 24 = Random
    virtual int LevelIndex() const = 0;    // 0..7, 8 = Random
};

class FixedPriorityInputs final : public PriorityInputs {
public:
    bool usePriorityText = false;
    std::string priorityText;
    int facilityIndex = 1;
    int levelIndex = 5;

    bool ChkPriorityChecked() const override { return usePriorityText; }
    std::string TxtPriorityText() const override { return priorityText; }
    int FacilityIndex() const override { return facilityIndex; }
    int LevelIndex() const override { return levelIndex; }
};

// The priority of the next message, 0..255; draws the random facility first,
// then the random level.
std::int32_t MessagePriority(const PriorityInputs &inputs);

// Facility index * 8 + level index, with no random substitution.
std::int16_t SelectedPriority(const PriorityInputs &inputs);
