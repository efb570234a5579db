// The catalogue's data. Field and index lists are transcribed in order;
// changing the order changes field numbers on disk.
#include "update/catalogue.h"

namespace strata {

namespace {

constexpr TIndexOptions kPrimaryUnique{ixPrimary, ixUnique};
constexpr TIndexOptions kUnique{ixUnique};
constexpr TIndexOptions kDescending{ixDescending};
constexpr TIndexOptions kNoOptions{};

// 1. accents.dat
constexpr CatalogueField kFields1[] = {
    {"Accent", ftString, 10, false, "", fcNoChange},
    {"AltCode", ftString, 10, false, "", fcNoChange},
    {"Sort", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes1[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Sort", "Sort", kNoOptions, "", icNone},
};

// 2. asset.dat
constexpr CatalogueField kFields2[] = {
    {"ASRef", ftAutoInc, 0, false, "", fcNoChange},
    {"ASTYRef", ftInteger, 0, false, "", fcNoChange},
    {"ASName", ftString, 80, false, "", fcNoChange},
    {"ASPurchDate", ftDate, 0, false, "", fcNoChange},
    {"ASCost", ftCurrency, 0, false, "", fcNoChange},
    {"ASValue", ftCurrency, 0, false, "", fcNoChange},
    {"ASRMRef", ftInteger, 0, false, "", fcNoChange},
    {"Name", ftMemo, 0, false, "", fcNoChange},
    {"Description", ftMemo, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes2[] = {
    {"", "ASRef", kPrimaryUnique, "", icNone},
    {"Name", "ASName", kNoOptions, "", icNone},
    {"Rooms", "ASRMRef", kNoOptions, "", icNone},
};

// 3. blood pressure.dat
constexpr CatalogueField kFields3[] = {
    {"BPRef", ftAutoInc, 0, false, "", fcNoChange},
    {"BPName", ftString, 10, false, "", fcNoChange},
    {"BPDate", ftDate, 0, false, "", fcNoChange},
    {"BPTime", ftTime, 0, false, "", fcNoChange},
    {"BPSys", ftInteger, 0, false, "", fcNoChange},
    {"BPDIA", ftInteger, 0, false, "", fcNoChange},
    {"BPPulse", ftInteger, 0, false, "", fcNoChange},
    {"BPComment", ftMemo, 0, false, "", fcNoChange},
    {"BPSide", ftString, 10, false, "", fcUpperCase},
};
constexpr CatalogueIndex kIndexes3[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"DateRev", "BPDate;BPTime", kDescending, "BPDate;BPTime", icNone},
};

// 4. books.dat
constexpr CatalogueField kFields4[] = {
    {"BKRef", ftAutoInc, 0, false, "", fcNoChange},
    {"BKName", ftString, 40, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes4[] = {
    {"", "BKRef", kPrimaryUnique, "", icNone},
    {"Name", "BKName", kNoOptions, "", icNone},
};

// 5. chairs.dat
constexpr CatalogueField kFields5[] = {
    {"Ref", ftAutoInc, 0, false, "", fcNoChange},
    {"NewNo", ftString, 6, false, "", fcUpperCase},
    {"TypeRef", ftInteger, 0, false, "", fcNoChange},
    {"LocationRef", ftInteger, 0, false, "", fcNoChange},
    {"PurchYear", ftInteger, 0, false, "", fcNoChange},
    {"Notes", ftMemo, 0, false, "", fcNoChange},
    {"StatusRef", ftInteger, 0, false, "1", fcNoChange},
    {"ResourceID", ftInteger, 0, false, "", fcNoChange},
    {"ResourceColor", ftInteger, 0, false, "", fcNoChange},
    {"ResourceImageIndex", ftInteger, 0, false, "", fcNoChange},
    {"ResourceName", ftString, 50, false, "", fcNoChange},
    {"Sort", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes5[] = {
    {"", "Ref", kPrimaryUnique, "", icNone},
    {"Numb", "NewNo", kNoOptions, "", icNone},
    {"Location", "LocationRef;NewNo", kNoOptions, "", icNone},
    {"Sort", "Sort", kNoOptions, "", icNone},
};

// 6. chairstatus.dat
constexpr CatalogueField kFields6[] = {
    {"StatusRef", ftInteger, 0, false, "", fcNoChange},
    {"StatusName", ftString, 30, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes6[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
};

// 7. contacts.dat
constexpr CatalogueField kFields7[] = {
    {"CNRef", ftAutoInc, 0, false, "", fcNoChange},
    {"CNLastName", ftString, 100, false, "", fcNoChange},
    {"CNFirstNameM", ftString, 20, false, "", fcNoChange},
    {"CNFirstNameF", ftString, 20, false, "", fcNoChange},
    {"CNTLRef", ftInteger, 0, false, "", fcNoChange},
    {"CNAdd1", ftString, 30, false, "", fcNoChange},
    {"CNAdd2", ftString, 30, false, "", fcNoChange},
    {"CNAdd3", ftString, 20, false, "", fcNoChange},
    {"CNTown", ftString, 20, false, "", fcNoChange},
    {"CNCounty", ftString, 20, false, "", fcNoChange},
    {"CNPostCode", ftString, 10, false, "", fcNoChange},
    {"CNEnvelope", ftString, 50, false, "", fcNoChange},
    {"CNGreeting", ftString, 50, false, "", fcNoChange},
    {"CNLCRef", ftInteger, 0, false, "", fcNoChange},
    {"TelHome", ftString, 25, false, "", fcNoChange},
    {"FaxHome", ftString, 25, false, "", fcNoChange},
    {"TelOffice", ftString, 25, false, "", fcNoChange},
    {"FaxOffice", ftString, 25, false, "", fcNoChange},
    {"Mobile", ftString, 20, false, "", fcNoChange},
    {"EMail", ftString, 50, false, "", fcNoChange},
    {"Notes", ftMemo, 0, false, "", fcNoChange},
    {"Trade", ftString, 30, false, "", fcNoChange},
    {"Xmas", ftBoolean, 0, false, "False", fcNoChange},
    {"CNXmasSent", ftBoolean, 0, false, "False", fcNoChange},
    {"CNXmasRec", ftBoolean, 0, false, "False", fcNoChange},
    {"CNXmasOptOut", ftBoolean, 0, false, "False", fcNoChange},
    {"Include", ftBoolean, 0, false, "False", fcNoChange},
    {"Spare", ftBoolean, 0, false, "", fcNoChange},
    {"LocationOld", ftString, 2, false, "", fcNoChange},
    {"CNAddress", ftMemo, 0, false, "", fcNoChange},
    {"CNPartyHome", ftInteger, 0, false, "", fcNoChange},
    {"CNPartyAway", ftInteger, 0, false, "", fcNoChange},
    {"CNPartyBehind", ftInteger, 0, false, "", fcNoChange},
    {"CNWebsite", ftString, 200, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes7[] = {
    {"", "CNRef", kPrimaryUnique, "", icNone},
    {"Name", "CNLastName", kNoOptions, "", icFull},
    {"XmasLabels", "CNLCRef;CNLastName", kNoOptions, "", icNone},
    {"Trades", "Trade;CNLastName", kNoOptions, "", icNone},
};

// 8. contacttelephones.dat
constexpr CatalogueField kFields8[] = {
    {"ContRef", ftAutoInc, 0, false, "", fcNoChange},
    {"Name", ftString, 50, false, "", fcNoChange},
    {"Number", ftString, 30, false, "", fcNoChange},
    {"Select", ftBoolean, 0, false, "False", fcNoChange},
};
constexpr CatalogueIndex kIndexes8[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Contact", "ContRef;Name", kNoOptions, "", icNone},
    {"Number", "Number", kNoOptions, "", icNone},
};

// 9. dates.dat
constexpr CatalogueField kFields9[] = {
    {"DTRef", ftAutoInc, 0, false, "", fcNoChange},
    {"DTCNRef", ftInteger, 0, false, "", fcNoChange},
    {"DTEvent", ftString, 20, false, "", fcNoChange},
    {"DTDate", ftDateTime, 0, false, "", fcNoChange},
    {"DTNotes", ftString, 30, false, "", fcNoChange},
    {"DTMonth", ftInteger, 0, false, "", fcNoChange},
    {"DTDay", ftInteger, 0, false, "", fcNoChange},
    {"DTInclude", ftBoolean, 0, false, "False", fcNoChange},
};
constexpr CatalogueIndex kIndexes9[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Contact", "DTCNRef", kNoOptions, "", icNone},
    {"Month", "DTMonth", kNoOptions, "", icNone},
};

// 10. group.dat
constexpr CatalogueField kFields10[] = {
    {"GPRef", ftAutoInc, 0, false, "", fcNoChange},
    {"GPName", ftString, 25, false, "", fcNoChange},
    {"GPSort", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes10[] = {
    {"", "GPRef", kPrimaryUnique, "", icNone},
    {"Sort", "GPSort", kNoOptions, "", icNone},
};

// 11. hints.dat
constexpr CatalogueField kFields11[] = {
    {"HTRef", ftInteger, 0, false, "", fcNoChange},
    {"HTName", ftString, 100, false, "", fcNoChange},
    {"HTText", ftMemo, 0, false, "", fcNoChange},
    {"HTCancel", ftBoolean, 0, false, "False", fcNoChange},
};
constexpr CatalogueIndex kIndexes11[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Ref", "HTRef", kNoOptions, "", icNone},
};

// 12. ingred.dat
constexpr CatalogueField kFields12[] = {
    {"IGRef", ftAutoInc, 0, false, "", fcNoChange},
    {"IGName", ftString, 30, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes12[] = {
    {"", "IGRef", kPrimaryUnique, "", icNone},
    {"Name", "IGName", kNoOptions, "", icNone},
};

// 13. ingredxref.dat
constexpr CatalogueField kFields13[] = {
    {"IXRef", ftAutoInc, 0, false, "", fcNoChange},
    {"IXIGRef", ftInteger, 0, false, "", fcNoChange},
    {"IXRCRef", ftInteger, 0, false, "", fcNoChange},
    {"IXQty", ftFloat, 0, false, "", fcNoChange},
    {"IXText", ftString, 35, false, "", fcNoChange},
    {"IXMeasure", ftString, 10, false, "", fcNoChange},
    {"IXSort", ftSmallint, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes13[] = {
    {"", "IXRef", kPrimaryUnique, "", icNone},
    {"Recipe", "IXRCRef;IXSort", kNoOptions, "", icNone},
    {"Ingrediants", "IXIGRef", kNoOptions, "", icNone},
};

// 14. links.dat
constexpr CatalogueField kFields14[] = {
    {"Id", ftAutoInc, 0, false, "", fcNoChange},
    {"Uses", ftInteger, 0, false, "", fcNoChange},
    {"ObjectType", ftString, 100, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes14[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Id", "Id", kNoOptions, "", icFull},
};

// 15. loan.dat
constexpr CatalogueField kFields15[] = {
    {"LNRef", ftAutoInc, 0, false, "", fcNoChange},
    {"LNName", ftString, 35, false, "", fcNoChange},
    {"LNItem", ftString, 50, false, "", fcNoChange},
    {"LNDate", ftDate, 0, false, "", fcNoChange},
    {"LNComment", ftMemo, 0, false, "", fcNoChange},
    {"LNType", ftString, 3, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes15[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Date", "LNDate", kNoOptions, "", icNone},
};

// 16. location.dat
constexpr CatalogueField kFields16[] = {
    {"LCRef", ftAutoInc, 0, false, "", fcNoChange},
    {"LCName", ftString, 30, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes16[] = {
    {"", "LCRef", kPrimaryUnique, "", icNone},
    {"Name", "LCName", kNoOptions, "", icNone},
};

// 17. maintaction.dat
constexpr CatalogueField kFields17[] = {
    {"MPRef", ftAutoInc, 0, false, "", fcNoChange},
    {"MPMTRef", ftInteger, 0, false, "", fcNoChange},
    {"MPDate", ftDate, 0, false, "", fcNoChange},
    {"MPWho", ftString, 20, false, "", fcNoChange},
    {"MPMaterial", ftString, 50, false, "", fcNoChange},
    {"MPComment", ftMemo, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes17[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"MPMTRef", "MPMTRef", kNoOptions, "", icNone},
};

// 18. maintfrequencies.dat
constexpr CatalogueField kFields18[] = {
    {"FreqID", ftAutoInc, 0, true, "", fcNoChange},
    {"Days", ftInteger, 0, false, "", fcNoChange},
    {"FrequencyName", ftString, 30, false, "", fcNoChange},
    {"FrequencySort", ftSmallint, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes18[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"PrimaryKey", "Days;FreqID", kUnique, "", icFull},
    {"Sort", "FrequencySort", kNoOptions, "", icNone},
};

// 19. maintitems.dat
constexpr CatalogueField kFields19[] = {
    {"ItemID", ftAutoInc, 0, true, "", fcNoChange},
    {"ItemName", ftString, 100, false, "", fcNoChange},
    {"Task", ftString, 100, false, "", fcNoChange},
    {"SupplierID", ftString, 100, false, "", fcNoChange},
    {"FreqID", ftInteger, 0, false, "", fcNoChange},
    {"NextDueDate", ftDateTime, 0, false, "", fcNoChange},
    {"JobMaint", ftString, 6, false, "", fcNoChange},
    {"DateDone", ftDateTime, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes19[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"PrimaryKey", "ItemID", kUnique, "", icFull},
    {"FreqID", "FreqID", kNoOptions, "", icFull},
    {"ItemID", "ItemID", kNoOptions, "", icFull},
    {"SupplierID", "SupplierID", kNoOptions, "", icFull},
};

// 20. maintsuppliers.dat
constexpr CatalogueField kFields20[] = {
    {"SupplierID", ftAutoInc, 0, true, "", fcNoChange},
    {"SupplierName", ftString, 100, false, "", fcNoChange},
    {"SupplierAdd", ftMemo, 0, false, "", fcNoChange},
    {"SupplierTel", ftString, 30, false, "", fcNoChange},
    {"SupplierFax", ftString, 30, false, "", fcNoChange},
    {"Contacts", ftMemo, 0, false, "", fcNoChange},
    {"Notes", ftMemo, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes20[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"PrimaryKey", "SupplierID", kUnique, "", icFull},
    {"SupplierID", "SupplierID", kNoOptions, "", icFull},
};

// 21. mainttopic.dat
constexpr CatalogueField kFields21[] = {
    {"MTRef", ftAutoInc, 0, false, "", fcNoChange},
    {"MTFreq", ftInteger, 0, false, "", fcNoChange},
    {"MTGroup", ftString, 20, false, "", fcNoChange},
    {"MTItem", ftString, 50, false, "", fcNoChange},
    {"MTComment", ftMemo, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes21[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
};

// 22. medicines.dat
constexpr CatalogueField kFields22[] = {
    {"MDRef", ftAutoInc, 0, false, "", fcNoChange},
    {"MDName", ftString, 50, false, "", fcNoChange},
    {"MDWho", ftString, 50, false, "", fcNoChange},
    {"MDApplication", ftString, 100, false, "", fcNoChange},
    {"MDComment", ftMemo, 0, false, "", fcNoChange},
    {"MDDate", ftDate, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes22[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Name", "MDName", kNoOptions, "", icNone},
    {"Date", "MDDate", kNoOptions, "", icNone},
};

// 23. menus.dat
constexpr CatalogueField kFields23[] = {
    {"ID", ftAutoInc, 0, true, "", fcNoChange},
    {"Menu", ftString, 100, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes23[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"PrimaryKey", "ID", kUnique, "", icFull},
    {"NORM_OrderByIndex", "Menu", kNoOptions, "", icFull},
};

// 24. parties.dat
constexpr CatalogueField kFields24[] = {
    {"PartyRef", ftAutoInc, 0, false, "", fcNoChange},
    {"PYDate", ftDate, 0, false, "", fcNoChange},
    {"PYName", ftString, 50, false, "", fcNoChange},
    {"PYStarter", ftString, 30, false, "", fcNoChange},
    {"PYMain", ftString, 30, false, "", fcNoChange},
    {"PYSweet", ftString, 30, false, "", fcNoChange},
    {"PYDrinks", ftString, 30, false, "", fcNoChange},
    {"PYComments", ftMemo, 0, false, "", fcNoChange},
    {"PYCNHost", ftInteger, 0, false, "", fcNoChange},
    {"PYGift", ftString, 20, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes24[] = {
    {"", "PartyRef", kPrimaryUnique, "", icNone},
    {"Party", "PartyRef;PYDate", kDescending, "PartyRef;PYDate", icNone},
    {"Date", "PYDate", kDescending, "PYDate", icNone},
    {"Contacts", "PYCNHost;PYDate", kNoOptions, "", icNone},
};

// 25. partypeoplexref.dat
constexpr CatalogueField kFields25[] = {
    {"PartyRef", ftInteger, 0, false, "", fcNoChange},
    {"PeopleRef", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes25[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Party", "PartyRef", kNoOptions, "", icNone},
    {"People", "PeopleRef", kNoOptions, "", icNone},
};

// 26. password.dat
constexpr CatalogueField kFields26[] = {
    {"PWName", ftString, 30, false, "", fcNoChange},
    {"PWShort", ftString, 3, false, "", fcNoChange},
    {"PWPassword", ftString, 10, false, "welcome", fcNoChange},
    {"PWType", ftInteger, 0, false, "0", fcNoChange},
    {"PWLoggedOn", ftBoolean, 0, false, "False", fcNoChange},
    {"PWLastOn", ftDateTime, 0, false, "", fcNoChange},
    {"PWDept", ftInteger, 0, false, "", fcNoChange},
    {"PWSect", ftInteger, 0, false, "", fcNoChange},
    {"PWStaffNo", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes26[] = {
    {"", "PWName", kPrimaryUnique, "", icNone},
    {"UserName", "PWName", kUnique, "", icNone},
};

// 27. passwordstore.dat
constexpr CatalogueField kFields27[] = {
    {"PWRef", ftAutoInc, 0, false, "", fcNoChange},
    {"PWTopic", ftString, 50, false, "", fcNoChange},
    {"PWPassword", ftString, 50, false, "", fcNoChange},
    {"PWName", ftString, 50, false, "", fcNoChange},
    {"PWSerial", ftString, 100, false, "", fcNoChange},
    {"PWTimeEntered", ftDateTime, 0, false, "CURRENT_TIMESTAMP", fcNoChange},
};
constexpr CatalogueIndex kIndexes27[] = {
    {"", "PWRef", kPrimaryUnique, "", icNone},
    {"Topic", "PWTopic", kNoOptions, "", icNone},
};

// 28. passwordstorecopy.dat
constexpr CatalogueField kFields28[] = {
    {"PWRef", ftAutoInc, 0, false, "", fcNoChange},
    {"PWTopic", ftString, 30, false, "", fcNoChange},
    {"PWPassword", ftString, 30, false, "", fcNoChange},
    {"PWName", ftString, 30, false, "", fcNoChange},
    {"PWSerial", ftString, 60, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes28[] = {
    {"", "PWRef", kPrimaryUnique, "", icNone},
    {"Name", "PWTopic", kNoOptions, "", icNone},
};

// 29. petdata.dat
constexpr CatalogueField kFields29[] = {
    {"PDRef", ftAutoInc, 0, false, "", fcNoChange},
    {"PDPTRef", ftInteger, 0, false, "", fcNoChange},
    {"PDSubject", ftString, 50, false, "", fcNoChange},
    {"PDDate", ftDate, 0, false, "", fcNoChange},
    {"PDMemo", ftMemo, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes29[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"DateRev", "PDDate", kDescending, "PDDate", icNone},
};

// 30. petname.dat
constexpr CatalogueField kFields30[] = {
    {"PNRef", ftAutoInc, 0, false, "", fcNoChange},
    {"PNName", ftString, 40, false, "", fcNoChange},
    {"PNDOB", ftDate, 0, false, "", fcNoChange},
    {"PNChipNo", ftString, 30, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes30[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
};

// 31. propertyagent.dat
constexpr CatalogueField kFields31[] = {
    {"PARef", ftAutoInc, 0, false, "", fcNoChange},
    {"PAName", ftString, 50, false, "", fcNoChange},
    {"PATel", ftString, 15, false, "", fcNoChange},
    {"PAAgent", ftString, 50, false, "", fcNoChange},
    {"PANotes", ftMemo, 0, false, "", fcNoChange},
    {"PAWeb", ftString, 200, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes31[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Name", "PAName", kNoOptions, "", icNone},
};

// 32. propertysearch.dat
constexpr CatalogueField kFields32[] = {
    {"PSRef", ftAutoInc, 0, false, "", fcNoChange},
    {"PSName", ftString, 100, false, "", fcNoChange},
    {"PSViewDate", ftDate, 0, false, "", fcNoChange},
    {"PSAgent", ftString, 100, false, "", fcNoChange},
    {"PSAsking", ftBCD, 2, false, "", fcNoChange},
    {"PSComments", ftMemo, 0, false, "", fcNoChange},
    {"PSDateTime", ftDateTime, 0, false, "Current_Timestamp", fcNoChange},
    {"PSParish", ftString, 15, false, "", fcNoChange},
    {"PSPros", ftMemo, 0, false, "", fcNoChange},
    {"PSCons", ftMemo, 0, false, "", fcNoChange},
    {"PSAgentRef", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes32[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Agent", "PSAgentRef", kNoOptions, "", icNone},
};

// 33. recipe.dat
constexpr CatalogueField kFields33[] = {
    {"RCRef", ftAutoInc, 0, false, "", fcNoChange},
    {"RCName", ftString, 50, false, "", fcNoChange},
    {"RCGPRef", ftInteger, 0, false, "", fcNoChange},
    {"RCBKRef", ftInteger, 0, false, "", fcNoChange},
    {"RCPage", ftString, 5, false, "", fcNoChange},
    {"RCNotes", ftMemo, 0, false, "", fcNoChange},
    {"RCServes", ftSmallint, 0, false, "", fcNoChange},
    {"RCWhoFrom", ftString, 30, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes33[] = {
    {"", "RCRef", kPrimaryUnique, "", icNone},
    {"Group&Name", "RCName", kNoOptions, "", icNone},
};

// 34. recording.dat
constexpr CatalogueField kFields34[] = {
    {"RKRef", ftAutoInc, 0, false, "", fcNoChange},
    {"RKDate", ftDate, 0, false, "", fcNoChange},
    {"RKTime", ftTime, 0, false, "", fcNoChange},
    {"RKTopic", ftInteger, 0, false, "", fcNoChange},
    {"RKComment", ftMemo, 0, false, "", fcNoChange},
    {"Col1", ftString, 100, false, "", fcNoChange},
    {"Col2", ftString, 100, false, "", fcNoChange},
    {"Col3", ftString, 100, false, "", fcNoChange},
    {"Tick", ftBoolean, 0, false, "False", fcNoChange},
};
constexpr CatalogueIndex kIndexes34[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
};

// 35. recordingtopics.dat
constexpr CatalogueField kFields35[] = {
    {"RTRef", ftAutoInc, 0, false, "", fcNoChange},
    {"RTTopic", ftString, 50, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes35[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Topic", "RTRef", kNoOptions, "", icNone},
};

// 36. rooms.dat
constexpr CatalogueField kFields36[] = {
    {"RMRef", ftAutoInc, 0, false, "", fcNoChange},
    {"RMName", ftString, 30, false, "", fcNoChange},
    {"RMSort", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes36[] = {
    {"", "RMRef", kPrimaryUnique, "", icNone},
    {"Name", "RMName", kNoOptions, "", icNone},
    {"Sort", "RMSort", kNoOptions, "", icNone},
};

// 37. schedassetlocation.dat
constexpr CatalogueField kFields37[] = {
    {"LocationRef", ftString, 4, false, "", fcNoChange},
    {"LocationName", ftString, 100, false, "", fcNoChange},
    {"Contact", ftString, 100, false, "", fcNoChange},
    {"Address", ftMemo, 0, false, "", fcNoChange},
    {"Tel", ftString, 100, false, "", fcNoChange},
    {"Fax", ftString, 100, false, "", fcNoChange},
    {"LocationTypeCode", ftString, 2, false, "", fcNoChange},
    {"Notes", ftMemo, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes37[] = {
    {"", "LocationRef", kPrimaryUnique, "", icNone},
    {"Name", "LocationName", kNoOptions, "", icNone},
};

// 38. schedassettype.dat
constexpr CatalogueField kFields38[] = {
    {"TypeRef", ftString, 6, false, "", fcNoChange},
    {"TypeName", ftString, 100, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes38[] = {
    {"", "TypeRef", kPrimaryUnique, "", icNone},
    {"Name", "TypeName", kNoOptions, "", icNone},
};

// 39. schedule.dat
constexpr CatalogueField kFields39[] = {
    {"ID", ftAutoInc, 0, false, "", fcNoChange},
    {"ParentID", ftInteger, 0, false, "", fcNoChange},
    {"Type", ftInteger, 0, false, "", fcNoChange},
    {"ActualFinish", ftInteger, 0, false, "", fcNoChange},
    {"ActualStart", ftInteger, 0, false, "", fcNoChange},
    {"Start", ftDate, 0, false, "", fcNoChange},
    {"Finish", ftDate, 0, false, "", fcNoChange},
    {"Options", ftInteger, 0, false, "", fcNoChange},
    {"Caption", ftString, 255, false, "", fcNoChange},
    {"RecurrenceIndex", ftInteger, 0, false, "", fcNoChange},
    {"RecurrenceInfo", ftBlob, 0, false, "", fcNoChange},
    {"ResourceID", ftInteger, 0, false, "", fcNoChange},
    {"Location", ftString, 255, false, "", fcNoChange},
    {"Message", ftString, 255, false, "", fcNoChange},
    {"ReminderDate", ftDate, 0, false, "", fcNoChange},
    {"ReminderMinutes", ftInteger, 0, false, "", fcNoChange},
    {"State", ftInteger, 0, false, "", fcNoChange},
    {"LabelColor", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes39[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Resource", "ResourceID", kNoOptions, "", icNone},
};

// 40. schedulecolour.dat
constexpr CatalogueField kFields40[] = {
    {"Colour", ftInteger, 0, false, "", fcNoChange},
    {"Name", ftString, 50, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes40[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
};

// 41. schedulepersonal.dat
constexpr CatalogueField kFields41[] = {
    {"ID", ftAutoInc, 0, false, "", fcNoChange},
    {"ParentID", ftInteger, 0, false, "", fcNoChange},
    {"Type", ftInteger, 0, false, "", fcNoChange},
    {"ActualFinish", ftInteger, 0, false, "", fcNoChange},
    {"ActualStart", ftInteger, 0, false, "", fcNoChange},
    {"Start", ftDateTime, 0, false, "", fcNoChange},
    {"Finish", ftDateTime, 0, false, "", fcNoChange},
    {"Options", ftInteger, 0, false, "", fcNoChange},
    {"Caption", ftMemo, 0, false, "", fcNoChange},
    {"RecurrenceIndex", ftInteger, 0, false, "", fcNoChange},
    {"RecurrenceInfo", ftBlob, 0, false, "", fcNoChange},
    {"ResourceID", ftInteger, 0, false, "", fcNoChange},
    {"Location", ftMemo, 0, false, "", fcNoChange},
    {"Message", ftMemo, 0, false, "", fcNoChange},
    {"ReminderDate", ftDateTime, 0, false, "", fcNoChange},
    {"ReminderMinutes", ftInteger, 0, false, "", fcNoChange},
    {"State", ftInteger, 0, false, "", fcNoChange},
    {"LabelColor", ftInteger, 0, false, "", fcNoChange},
    {"DateCrossRef", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes41[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Resource", "ResourceID", kNoOptions, "", icNone},
    {"ID", "ID", kNoOptions, "", icNone},
};

// 42. softwarename.dat
constexpr CatalogueField kFields42[] = {
    {"SNRef", ftAutoInc, 0, false, "", fcNoChange},
    {"SNName", ftString, 50, false, "", fcNoChange},
    {"SNPurchFrom", ftString, 50, false, "", fcNoChange},
    {"SNPurchDate", ftDate, 0, false, "", fcNoChange},
    {"SNPurchVer", ftString, 20, false, "", fcNoChange},
    {"SNUserName", ftString, 50, false, "", fcNoChange},
    {"SNPassword", ftString, 20, false, "", fcNoChange},
    {"SNSerialNo", ftString, 50, false, "", fcNoChange},
    {"SNEMail", ftString, 100, false, "", fcNoChange},
    {"SNRef1", ftString, 50, false, "", fcNoChange},
    {"SNRef2", ftString, 50, false, "", fcNoChange},
    {"SNRef3", ftString, 50, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes42[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Ref", "SNRef", kNoOptions, "", icNone},
};

// 43. softwarerelease.dat
constexpr CatalogueField kFields43[] = {
    {"SRRef", ftAutoInc, 0, false, "", fcNoChange},
    {"SRNameRef", ftInteger, 0, false, "", fcNoChange},
    {"SRDate", ftDate, 0, false, "", fcNoChange},
    {"SRVersion", ftString, 10, false, "", fcNoChange},
    {"SRComment", ftMemo, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes43[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"SoftwareNames", "SRNameRef", kNoOptions, "", icNone},
};

// 44. switchboard items.dat
constexpr CatalogueField kFields44[] = {
    {"SwitchboardID", ftInteger, 0, false, "", fcNoChange},
    {"ItemNumber", ftSmallint, 0, false, "", fcNoChange},
    {"ItemText", ftString, 250, false, "", fcNoChange},
    {"Command", ftSmallint, 0, false, "", fcNoChange},
    {"Argument", ftString, 250, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes44[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
};

// 45. system.dat
constexpr CatalogueField kFields45[] = {
    {"Passwords", ftBoolean, 0, false, "False", fcNoChange},
    {"Version", ftString, 10, false, "", fcNoChange},
    {"Pause", ftInteger, 0, false, "3000", fcNoChange},
    {"Schedule", ftInteger, 0, false, "1", fcNoChange},
    {"RecurrenceBlob", ftBlob, 0, false, "", fcNoChange},
    {"EntertainmentLastCheck", ftDate, 0, false, "", fcNoChange},
    {"ScheduleSplit", ftInteger, 0, false, "", fcNoChange},
    {"Wine", ftBoolean, 0, false, "False", fcNoChange},
    {"Recipes", ftBoolean, 0, false, "False", fcNoChange},
    {"Assets", ftBoolean, 0, false, "False", fcNoChange},
    {"JobsToDo", ftBoolean, 0, false, "False", fcNoChange},
    {"Medical", ftBoolean, 0, false, "False", fcNoChange},
    {"Software", ftBoolean, 0, false, "False", fcNoChange},
    {"PropertySearch", ftBoolean, 0, false, "True", fcNoChange},
};
constexpr CatalogueIndex kIndexes45[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
};

// 46. tbltypes.dat
constexpr CatalogueField kFields46[] = {
    {"RefType", ftAutoInc, 0, false, "", fcNoChange},
    {"Type", ftString, 100, false, "", fcNoChange},
    {"Check1", ftBoolean, 0, false, "", fcNoChange},
    {"Check2", ftBoolean, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes46[] = {
    {"", "RefType", kPrimaryUnique, "", icNone},
    {"Name", "Type", kNoOptions, "", icNone},
};

// 47. tbltypesx.dat
constexpr CatalogueField kFields47[] = {
    {"RefXType", ftInteger, 0, false, "", fcNoChange},
    {"RefXRef", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes47[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"Contact", "RefXRef", kNoOptions, "", icNone},
    {"Type", "RefXType", kNoOptions, "", icNone},
};

// 48. temp.dat
constexpr CatalogueField kFields48[] = {
    {"TPRef", ftAutoInc, 0, false, "", fcNoChange},
    {"TPGas", ftString, 1, false, "", fcNoChange},
    {"TPCent", ftInteger, 0, false, "", fcNoChange},
    {"TPFahren", ftInteger, 0, false, "", fcNoChange},
    {"TPWord", ftString, 15, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes48[] = {
    {"", "TPRef", kPrimaryUnique, "", icNone},
};

// 49. thingstodo.dat
constexpr CatalogueField kFields49[] = {
    {"Priority", ftString, 2, false, "", fcNoChange},
    {"Ref", ftAutoInc, 0, true, "", fcNoChange},
    {"DateDue", ftDateTime, 0, false, "", fcNoChange},
    {"Iten", ftString, 100, false, "", fcNoChange},
    {"Comment", ftMemo, 0, false, "", fcNoChange},
    {"Sort", ftInteger, 0, false, "", fcNoChange},
    {"DateRecorded", ftDateTime, 0, false, "", fcNoChange},
    {"Completed", ftBoolean, 0, true, "False", fcNoChange},
    {"DateCompleted", ftDateTime, 0, false, "", fcNoChange},
    {"JobRef", ftInteger, 0, false, "", fcNoChange},
    {"Critical", ftString, 3, false, "", fcUpperCase},
};
constexpr CatalogueIndex kIndexes49[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"PrimaryKey", "Ref", kUnique, "", icFull},
    {"Date", "DateDue", kNoOptions, "", icNone},
    {"JobRef", "JobRef;DateDue;Priority", kNoOptions, "", icNone},
};

// 50. thingstodotopics.dat
constexpr CatalogueField kFields50[] = {
    {"JobRef", ftAutoInc, 0, true, "", fcNoChange},
    {"ToDoTopic", ftString, 100, false, "", fcNoChange},
    {"Completed", ftBoolean, 0, true, "False", fcNoChange},
    {"DateDone", ftDateTime, 0, false, "", fcNoChange},
    {"WhoDo", ftString, 100, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes50[] = {
    {"", "RecordID", kPrimaryUnique, "", icNone},
    {"PrimaryKey", "JobRef", kUnique, "", icFull},
    {"Name", "ToDoTopic", kNoOptions, "", icNone},
};

// 51. title.dat
constexpr CatalogueField kFields51[] = {
    {"TLRef", ftAutoInc, 0, false, "", fcNoChange},
    {"TLName", ftString, 10, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes51[] = {
    {"", "TLRef", kPrimaryUnique, "", icNone},
};

// 52. types.dat
constexpr CatalogueField kFields52[] = {
    {"TYRef", ftInteger, 0, false, "", fcNoChange},
    {"TYName", ftString, 30, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes52[] = {
    {"", "TYRef", kPrimaryUnique, "", icNone},
    {"Name", "TYName", kNoOptions, "", icNone},
};

// 53. usertype.dat
constexpr CatalogueField kFields53[] = {
    {"UTRef", ftInteger, 0, false, "", fcNoChange},
    {"UTName", ftString, 20, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes53[] = {
    {"", "UTRef", kPrimaryUnique, "", icNone},
};

// 54. winecolour.dat
constexpr CatalogueField kFields54[] = {
    {"WCRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WCName", ftString, 10, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes54[] = {
    {"", "WCRef", kPrimaryUnique, "", icNone},
    {"Name", "WCName", kNoOptions, "", icNone},
};

// 55. winedetail.dat
constexpr CatalogueField kFields55[] = {
    {"WDRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WDWMRef", ftInteger, 0, false, "", fcNoChange},
    {"WDBin", ftString, 10, false, "", fcNoChange},
    {"WDDateOut", ftDate, 0, false, "", fcNoChange},
    {"WDOccasion", ftString, 100, false, "", fcNoChange},
    {"WDNotes", ftMemo, 0, false, "", fcNoChange},
    {"Status", ftSmallint, 0, false, "", fcNoChange},
    {"DateIn", ftDate, 0, false, "current_date", fcNoChange},
    {"Cost", ftFloat, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes55[] = {
    {"", "WDRef", kPrimaryUnique, "", icNone},
    {"WineMaster", "WDWMRef", kNoOptions, "", icNone},
    {"Bin", "WDBin", kNoOptions, "", icNone},
};

// 56. winelikes.dat
constexpr CatalogueField kFields56[] = {
    {"WLRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WLWVRef", ftInteger, 0, false, "", fcNoChange},
    {"WLWRRef", ftInteger, 0, false, "", fcNoChange},
    {"WLWSRef", ftInteger, 0, false, "", fcNoChange},
    {"WLWCRef", ftInteger, 0, false, "", fcNoChange},
    {"WLWNRef", ftInteger, 0, false, "", fcNoChange},
    {"WLYear", ftDate, 0, false, "", fcNoChange},
    {"WLNotes", ftMemo, 0, false, "", fcNoChange},
    {"Vineyard", ftString, 30, false, "", fcNoChange},
    {"Name", ftString, 30, false, "", fcNoChange},
    {"Region", ftString, 30, false, "", fcNoChange},
    {"Style", ftString, 30, false, "", fcNoChange},
    {"Colour", ftString, 2, false, "", fcNoChange},
    {"Year", ftInteger, 0, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes56[] = {
    {"", "WLRef", kPrimaryUnique, "", icNone},
};

// 57. winemaster.dat
constexpr CatalogueField kFields57[] = {
    {"WMRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WMCost", ftCurrency, 0, false, "", fcNoChange},
    {"WMPurch", ftDate, 0, false, "", fcNoChange},
    {"WMYear", ftInteger, 0, false, "", fcNoChange},
    {"WMNotes", ftMemo, 0, false, "", fcNoChange},
    {"WMComments", ftMemo, 0, false, "", fcNoChange},
    {"WMWRRef", ftInteger, 0, false, "", fcNoChange},
    {"WMWNRef", ftInteger, 0, false, "", fcNoChange},
    {"WMWSRef", ftInteger, 0, false, "", fcNoChange},
    {"WMWVRef", ftInteger, 0, false, "", fcNoChange},
    {"WMWQRef", ftInteger, 0, false, "", fcNoChange},
    {"WMWCRef", ftInteger, 0, false, "", fcNoChange},
    {"WMDrinkby", ftInteger, 0, false, "", fcNoChange},
    {"WMDringAfter", ftInteger, 0, false, "", fcNoChange},
    {"WMQty", ftInteger, 0, false, "", fcNoChange},
    {"Website", ftString, 200, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes57[] = {
    {"", "WMRef", kPrimaryUnique, "", icNone},
    {"NameRef", "WMWNRef", kNoOptions, "", icNone},
    {"Region", "WMWRRef", kNoOptions, "", icNone},
    {"Name", "WMWNRef", kNoOptions, "", icNone},
    {"Style", "WMWSRef", kNoOptions, "", icNone},
    {"Vineyard", "WMWVRef", kNoOptions, "", icNone},
    {"Colour", "WMWCRef", kNoOptions, "", icNone},
    {"Quality", "WMWQRef", kNoOptions, "", icNone},
};

// 58. winenames.dat
constexpr CatalogueField kFields58[] = {
    {"WNRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WNName", ftString, 50, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes58[] = {
    {"", "WNRef", kPrimaryUnique, "", icNone},
    {"Name", "WNName", kNoOptions, "", icNone},
};

// 59. winequality.dat
constexpr CatalogueField kFields59[] = {
    {"WQRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WQName", ftString, 20, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes59[] = {
    {"", "WQRef", kPrimaryUnique, "", icNone},
    {"Name", "WQName", kNoOptions, "", icNone},
};

// 60. wineregion.dat
constexpr CatalogueField kFields60[] = {
    {"WRRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WRName", ftString, 30, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes60[] = {
    {"", "WRRef", kPrimaryUnique, "", icNone},
    {"Name", "WRName", kNoOptions, "", icNone},
};

// 61. winestyle.dat
constexpr CatalogueField kFields61[] = {
    {"WSRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WSName", ftString, 20, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes61[] = {
    {"", "WSRef", kPrimaryUnique, "", icNone},
    {"Name", "WSName", kNoOptions, "", icNone},
};

// 62. winevineyard.dat
constexpr CatalogueField kFields62[] = {
    {"WVRef", ftAutoInc, 0, false, "", fcNoChange},
    {"WVName", ftString, 50, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes62[] = {
    {"", "WVRef", kPrimaryUnique, "", icNone},
    {"Name", "WVName", kNoOptions, "", icNone},
    {"Ref", "WVRef", kNoOptions, "", icNone},
};

// 63. xmas.dat
constexpr CatalogueField kFields63[] = {
    {"XRef", ftAutoInc, 0, false, "", fcNoChange},
    {"XCNRef", ftInteger, 0, false, "", fcNoChange},
    {"XYear", ftDate, 0, false, "CURRENT_DATE", fcNoChange},
    {"XSent", ftBoolean, 0, false, "", fcNoChange},
    {"XRec", ftBoolean, 0, false, "", fcNoChange},
    {"XComment", ftString, 200, false, "", fcNoChange},
};
constexpr CatalogueIndex kIndexes63[] = {
    {"", "XRef", kPrimaryUnique, "", icNone},
    {"Contact", "XCNRef;XYear", kNoOptions, "", icNone},
};

constexpr CatalogueEntry kCatalogue[] = {
    {"accents.dat", kFields1, kIndexes1, 0, 1, "Accents"},
    {"asset.dat", kFields2, kIndexes2, 2057, 0, ""},
    {"blood pressure.dat", kFields3, kIndexes3, 0, 1, "Blood Pressure"},
    {"books.dat", kFields4, kIndexes4, 2057, 0, ""},
    {"chairs.dat", kFields5, kIndexes5, 0, 0, ""},
    {"chairstatus.dat", kFields6, kIndexes6, 0, 1, "Chair Status"},
    {"contacts.dat", kFields7, kIndexes7, 2057, 0, "Contacts Detail"},
    {"contacttelephones.dat", kFields8, kIndexes8, 0, 1, "Contact Phone numbers"},
    {"dates.dat", kFields9, kIndexes9, 2057, 0, ""},
    {"group.dat", kFields10, kIndexes10, 2057, 0, ""},
    {"hints.dat", kFields11, kIndexes11, 0, 1, "Hints"},
    {"ingred.dat", kFields12, kIndexes12, 2057, 0, ""},
    {"ingredxref.dat", kFields13, kIndexes13, 2057, 0, ""},
    {"links.dat", kFields14, kIndexes14, 2057, 0, ""},
    {"loan.dat", kFields15, kIndexes15, 0, 1, "Loans"},
    {"location.dat", kFields16, kIndexes16, 2057, 1, "Location"},
    {"maintaction.dat", kFields17, kIndexes17, 0, 1, "MaintTopic"},
    {"maintfrequencies.dat", kFields18, kIndexes18, 2057, 0, ""},
    {"maintitems.dat", kFields19, kIndexes19, 2057, 0, ""},
    {"maintsuppliers.dat", kFields20, kIndexes20, 2057, 0, ""},
    {"mainttopic.dat", kFields21, kIndexes21, 0, 1, "Maintenance"},
    {"medicines.dat", kFields22, kIndexes22, 0, 1, ""},
    {"menus.dat", kFields23, kIndexes23, 2057, 0, ""},
    {"parties.dat", kFields24, kIndexes24, 2057, 0, ""},
    {"partypeoplexref.dat", kFields25, kIndexes25, 2057, 0, ""},
    {"password.dat", kFields26, kIndexes26, 2057, 1, "Password"},
    {"passwordstore.dat", kFields27, kIndexes27, 2057, 0, ""},
    {"passwordstorecopy.dat", kFields28, kIndexes28, 2057, 0, ""},
    {"petdata.dat", kFields29, kIndexes29, 0, 1, "PetData"},
    {"petname.dat", kFields30, kIndexes30, 0, 1, "Pet Names"},
    {"propertyagent.dat", kFields31, kIndexes31, 0, 1, "Property Agents"},
    {"propertysearch.dat", kFields32, kIndexes32, 0, 1, "Property Search"},
    {"recipe.dat", kFields33, kIndexes33, 2057, 0, ""},
    {"recording.dat", kFields34, kIndexes34, 0, 1, "Recording"},
    {"recordingtopics.dat", kFields35, kIndexes35, 0, 1, "Recording Topic"},
    {"rooms.dat", kFields36, kIndexes36, 2057, 0, ""},
    {"schedassetlocation.dat", kFields37, kIndexes37, 0, 0, ""},
    {"schedassettype.dat", kFields38, kIndexes38, 0, 0, ""},
    {"schedule.dat", kFields39, kIndexes39, 0, 1, ""},
    {"schedulecolour.dat", kFields40, kIndexes40, 0, 1, "Schedule Colours"},
    {"schedulepersonal.dat", kFields41, kIndexes41, 0, 1, ""},
    {"softwarename.dat", kFields42, kIndexes42, 0, 1, "Software Names"},
    {"softwarerelease.dat", kFields43, kIndexes43, 0, 1, "Software releases"},
    {"switchboard items.dat", kFields44, kIndexes44, 2057, 0, ""},
    {"system.dat", kFields45, kIndexes45, 2057, 1, "System Data"},
    {"tbltypes.dat", kFields46, kIndexes46, 2057, 0, ""},
    {"tbltypesx.dat", kFields47, kIndexes47, 2057, 0, "What type of contact is it?"},
    {"temp.dat", kFields48, kIndexes48, 2057, 0, "Cooking Temps"},
    {"thingstodo.dat", kFields49, kIndexes49, 2057, 0, ""},
    {"thingstodotopics.dat", kFields50, kIndexes50, 2057, 0, ""},
    {"title.dat", kFields51, kIndexes51, 2057, 1, "Titles"},
    {"types.dat", kFields52, kIndexes52, 2057, 0, ""},
    {"usertype.dat", kFields53, kIndexes53, 2057, 1, "User Type for System Access"},
    {"winecolour.dat", kFields54, kIndexes54, 2057, 1, "Wine Colour"},
    {"winedetail.dat", kFields55, kIndexes55, 2057, 0, ""},
    {"winelikes.dat", kFields56, kIndexes56, 2057, 0, ""},
    {"winemaster.dat", kFields57, kIndexes57, 2057, 0, ""},
    {"winenames.dat", kFields58, kIndexes58, 2057, 0, ""},
    {"winequality.dat", kFields59, kIndexes59, 2057, 0, ""},
    {"wineregion.dat", kFields60, kIndexes60, 2057, 0, ""},
    {"winestyle.dat", kFields61, kIndexes61, 2057, 0, ""},
    {"winevineyard.dat", kFields62, kIndexes62, 2057, 0, ""},
    {"xmas.dat", kFields63, kIndexes63, 2057, 1, "Xmas"},
};

}  // namespace

std::span<const CatalogueEntry> Catalogue() { return kCatalogue; }

}  // namespace strata
