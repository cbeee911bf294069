#pragma once
// Statements shared by the document bodies of the builder.

// The waybill's header row with its shipper, consignee and supplier (parameter ID).
extern const char* const cSqlWayBillHead;
