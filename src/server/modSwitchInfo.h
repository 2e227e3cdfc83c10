#pragma once

#include <QString>

#include <cstdint>

// The phone-switch integrations configured on the server, read from the registry once at start-up.
namespace modSwitchInfo {

// What filling a list needs of a list control: append an entry (answering its index, the NewIndex) and
// store an integer with an entry (its ItemData).
class ListControl {
public:
    virtual ~ListControl() = default;
    virtual int AddItem(const QString& text) = 0;
    virtual void setItemData(int index, int value) = 0;
};

void InitalizeSwitchInfo();
void GetSwitchInfoBySwitchCount(std::int16_t switchNumber, QString& displayName, std::int16_t& integrationId);
void PopulateListControlWithSwitchInfo(ListControl& control);

std::int16_t SwitchCount();

} // namespace modSwitchInfo
