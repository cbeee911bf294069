#pragma once
// Sends the reception act the back office asks for with a request of type 8: how the
// organisation received a supplier's waybill, in the format version that suits it.
#include <optional>
#include <string>

#include "uRequestQueue.h"

class TEgaisOutgoingActJob : public TOutgoingRequestJob {
public:
    TEgaisOutgoingActJob();

    // The act's format version: the larger of the default (DefaultProtocolVersion "2"
    // or "3", anything else 1) and the waybill's own (NULL: 1), so version 4 comes
    // only from the waybill itself.
    static int ActVersion(const std::optional<std::string>& sDefault, const TVariant& DocVersion);

protected:
    void RequestStarted(TRequestContext& ctx) override;
    TOutgoingDocument DocumentFor(const TRequestContext& ctx) override;
    void DocumentBuilt(const TRequestContext& ctx) override;
};
