-- The detail that goes with a run's result code: the refused block and its status bytes, the
-- OS's name of an I/O error, the check of the chip that failed; "" when the code says it all.

ALTER TABLE runs ADD COLUMN detail TEXT;
