/* Registration information of waybills and charge-on acts, and the partners' acts
   that answer the waybills we send. */

/* 1 on the Form B under which the goods of a received waybill line now stand; cleared
   on the Form B it replaces. */
ALTER TABLE S_EGAIS_INFORMS ADD ACT_FLAG INTEGER;

/* A waybill's registration information finds its head by the waybill key, and failing
   that by shipper, number and date; a charge-on act without its registration number
   is found by its own number. */
CREATE INDEX IX_RG_EGAIS_DOC_HEAD_UTM_DOC_ID ON RG_EGAIS_DOC_HEAD (UTM_DOC_ID);
CREATE INDEX IX_RG_EGAIS_DOC_HEAD_DOC_NUMBER ON RG_EGAIS_DOC_HEAD (DOC_NUMBER, SHIPPER);
CREATE INDEX IX_RG_EGAIS_DOC_HEAD_ACT_NUMBER ON RG_EGAIS_DOC_HEAD (ACT_NUMBER);

COMMIT;
