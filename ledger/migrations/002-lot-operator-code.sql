-- Traceability and the result's cause: the work order (--lot) and the person (--operator) of
-- every run, NULL when not given, and the stable code that goes with its result ("ok",
-- "empty-query-reply", "image-changed", ...). "operator" is a word of SQL, hence operator_name.

ALTER TABLE runs ADD COLUMN lot TEXT;
ALTER TABLE runs ADD COLUMN operator_name TEXT;
ALTER TABLE runs ADD COLUMN result_code TEXT;
