-- What the report's queries bound their runs by: the time that places a run on the clock (when
-- it ended, else when it started) for --since/--until, the station for --station, the image for
-- --image. The GROUP BY queries over every run read the table itself.

CREATE INDEX IF NOT EXISTS runs_by_time ON runs ((COALESCE(finished_at, started_at)));

CREATE INDEX IF NOT EXISTS runs_by_station ON runs (station, port);

CREATE INDEX IF NOT EXISTS runs_by_image ON runs (sha256);
