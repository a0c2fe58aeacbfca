-- Labrosa results database, SQLite flavour.
-- Dates are stored as text 'YYYY-MM-DD HH:MM:SS' so that they compare correctly as text.
-- Statements are separated by a semicolon at the end of a line; the tool splits on it.

CREATE TABLE VET_PROFILES (
    id INTEGER PRIMARY KEY,
    profileName VARCHAR(79) NOT NULL CHECK (length(profileName) <= 79)
);

-- profileID carries no foreign key: the laboratory's data may name a profile that is gone,
-- and the program shows such a set with an empty profile.
CREATE TABLE RESULTS (
    ID INTEGER PRIMARY KEY AUTOINCREMENT,
    RequestID VARCHAR(50) NOT NULL,
    PacientName VARCHAR(300),
    TransDate TIMESTAMP NOT NULL,
    ProcDate TIMESTAMP,
    Age INTEGER,
    SEX VARCHAR(10),
    comment TEXT,
    profileID SMALLINT,
    VSH VARCHAR(50)
);

CREATE TABLE ANALYSERS (
    MachineID INTEGER PRIMARY KEY,
    AnalyseName VARCHAR(100) NOT NULL
);

CREATE TABLE PARAMETERS (
    MachineID INTEGER NOT NULL REFERENCES ANALYSERS (MachineID),
    refcode VARCHAR(20) NOT NULL,
    refName VARCHAR(100),
    um VARCHAR(30),
    "order" INTEGER,
    PRIMARY KEY (MachineID, refcode)
);

CREATE TABLE RESULT_VALUES (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    resultID INTEGER NOT NULL REFERENCES RESULTS (ID) ON DELETE CASCADE,
    MachineID INTEGER NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    stringvalue VARCHAR(100) NOT NULL
);

-- A NULL sex applies to either sex.
CREATE TABLE VET_PROFILE_NORMAL_VALUES (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    profileID SMALLINT NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    sex VARCHAR(10),
    minValue VARCHAR(30),
    maxValue VARCHAR(30)
);


-- One row per measured value. The reference interval is picked by a subquery so that a
-- profile holding both a sex-specific and an any-sex interval for one code still yields one
-- row per value; the sex-specific interval wins.
CREATE VIEW vResults2_vet AS
SELECT r.ID AS results_id,
       r.RequestID AS RequestID,
       r.PacientName AS PacientName,
       r.TransDate AS TransDate,
       r.ProcDate AS ProcDate,
       r.Age AS Age,
       r.SEX AS sex,
       r.comment AS comment,
       r.profileID AS profileID,
       r.VSH AS VSH,
       v.MachineID AS MachineID,
       v.refcode AS refcode,
       v.stringvalue AS stringvalue,
       a.AnalyseName AS AnalyseName,
       p.refName AS refName,
       p.um AS um,
       p."order" AS "order",
       n.minValue AS minValue,
       n.maxValue AS maxValue
FROM RESULT_VALUES v
JOIN RESULTS r ON r.ID = v.resultID
LEFT JOIN ANALYSERS a ON a.MachineID = v.MachineID
LEFT JOIN PARAMETERS p ON p.MachineID = v.MachineID AND p.refcode = v.refcode
LEFT JOIN VET_PROFILE_NORMAL_VALUES n ON n.id = (
    SELECT n2.id FROM VET_PROFILE_NORMAL_VALUES n2
    WHERE n2.profileID = r.profileID AND n2.refcode = v.refcode
      AND (n2.sex = r.SEX OR n2.sex IS NULL)
    ORDER BY CASE WHEN n2.sex IS NULL THEN 1 ELSE 0 END, n2.id
    LIMIT 1);

-- Indexes, the name search's shadow table and its triggers. The tool makes them after the
-- demo rows (faster than keeping them up to date row by row), and `labrosa-dbtool --upgrade`
-- applies them to an existing database: each statement here is safe to run again.

-- The search lists a range of days ordered by day and request: this index gives both, so
-- no sort of the whole result is needed.
CREATE INDEX IF NOT EXISTS IX_RESULTS_TransDate_RequestID ON RESULTS (TransDate, RequestID);
-- The index above serves every use of the older one on the day alone.
DROP INDEX IF EXISTS IX_RESULTS_TransDate;
CREATE INDEX IF NOT EXISTS IX_RESULTS_RequestID ON RESULTS (RequestID);
-- The request identifier is searched by its leading number, in exactly this expression.
CREATE INDEX IF NOT EXISTS IX_RESULTS_RequestNumber ON RESULTS (COALESCE(CAST(RequestID AS INTEGER), 0));
CREATE INDEX IF NOT EXISTS IX_RESULT_VALUES_resultID ON RESULT_VALUES (resultID);
CREATE INDEX IF NOT EXISTS IX_NORMAL_VALUES_profile_code ON VET_PROFILE_NORMAL_VALUES (profileID, refcode);

-- The patient name in small letters without the marks of the Romanian letters (and the
-- long s and the Kelvin sign, whose case folding gives a plain letter), rowid = RESULTS.ID.
-- Its trigram index only picks the candidates of a name search; the search's own condition
-- still decides. Other programs write RESULTS too, so the triggers use plain SQL only.
CREATE VIRTUAL TABLE IF NOT EXISTS RESULTS_NAME_SEARCH USING fts5(name, tokenize = 'trigram');
DELETE FROM RESULTS_NAME_SEARCH;
INSERT INTO RESULTS_NAME_SEARCH (rowid, name)
SELECT ID, replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(lower(PacientName), 'ă', 'a'), 'Ă', 'a'), 'â', 'a'), 'Â', 'a'), 'î', 'i'), 'Î', 'i'), 'ș', 's'), 'Ș', 's'), 'ş', 's'), 'Ş', 's'), 'ț', 't'), 'Ț', 't'), 'ţ', 't'), 'Ţ', 't'), 'ſ', 's'), 'K', 'k') FROM RESULTS;

-- The insert trigger clears the rowid first, so that a shadow row left behind (a set removed
-- while the triggers were missing) can never make another program's INSERT fail.
CREATE TRIGGER IF NOT EXISTS RESULTS_NAME_SEARCH_insert AFTER INSERT ON RESULTS
BEGIN DELETE FROM RESULTS_NAME_SEARCH WHERE rowid = new.ID; INSERT INTO RESULTS_NAME_SEARCH (rowid, name)
VALUES (new.ID, replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(lower(new.PacientName), 'ă', 'a'), 'Ă', 'a'), 'â', 'a'), 'Â', 'a'), 'î', 'i'), 'Î', 'i'), 'ș', 's'), 'Ș', 's'), 'ş', 's'), 'Ş', 's'), 'ț', 't'), 'Ț', 't'), 'ţ', 't'), 'Ţ', 't'), 'ſ', 's'), 'K', 'k')); END;

CREATE TRIGGER IF NOT EXISTS RESULTS_NAME_SEARCH_update AFTER UPDATE OF ID, PacientName ON RESULTS
BEGIN DELETE FROM RESULTS_NAME_SEARCH WHERE rowid = old.ID; INSERT INTO RESULTS_NAME_SEARCH (rowid, name)
VALUES (new.ID, replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(lower(new.PacientName), 'ă', 'a'), 'Ă', 'a'), 'â', 'a'), 'Â', 'a'), 'î', 'i'), 'Î', 'i'), 'ș', 's'), 'Ș', 's'), 'ş', 's'), 'Ş', 's'), 'ț', 't'), 'Ț', 't'), 'ţ', 't'), 'Ţ', 't'), 'ſ', 's'), 'K', 'k')); END;

CREATE TRIGGER IF NOT EXISTS RESULTS_NAME_SEARCH_delete AFTER DELETE ON RESULTS
BEGIN DELETE FROM RESULTS_NAME_SEARCH WHERE rowid = old.ID; END;

-- A patient's earlier sets are found by the name folded as above with its blanks taken out, in
-- exactly this expression (plain SQL: other programs write RESULTS too); the program then checks
-- the name exactly. Without it every set is read. lower() changes ASCII letters only, so two
-- spellings of a name that differ in another capital (É, Ö) are not found as one patient.
CREATE INDEX IF NOT EXISTS IX_RESULTS_PatientKey ON RESULTS (replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(lower(PacientName), 'ă', 'a'), 'Ă', 'a'), 'â', 'a'), 'Â', 'a'), 'î', 'i'), 'Î', 'i'), 'ș', 's'), 'Ș', 's'), 'ş', 's'), 'Ş', 's'), 'ț', 't'), 'Ț', 't'), 'ţ', 't'), 'Ţ', 't'), 'ſ', 's'), 'K', 'k'), ' ', ''), profileID, TransDate);

-- Every change of a set or of its values counts on its bulletin's revision, and every change of
-- what the bulletins show beside the values on the row ('', ''), whoever makes it: the list's
-- validated mark relies on them (see CONTENT_REVISIONS). The day is the first ten characters of
-- the stored transfer date, 'YYYY-MM-DD'.
CREATE TRIGGER IF NOT EXISTS RESULTS_revision_insert AFTER INSERT ON RESULTS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES (coalesce(new.RequestID, ''), coalesce(substr(new.TransDate, 1, 10), '-'), 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS RESULTS_revision_update AFTER UPDATE ON RESULTS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES (coalesce(old.RequestID, ''), coalesce(substr(old.TransDate, 1, 10), '-'), 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES (coalesce(new.RequestID, ''), coalesce(substr(new.TransDate, 1, 10), '-'), 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS RESULTS_revision_delete AFTER DELETE ON RESULTS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES (coalesce(old.RequestID, ''), coalesce(substr(old.TransDate, 1, 10), '-'), 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS RESULT_VALUES_revision_insert AFTER INSERT ON RESULT_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) SELECT coalesce(RequestID, ''), coalesce(substr(TransDate, 1, 10), '-'), 1 FROM RESULTS WHERE ID = new.resultID ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS RESULT_VALUES_revision_update AFTER UPDATE ON RESULT_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) SELECT coalesce(RequestID, ''), coalesce(substr(TransDate, 1, 10), '-'), 1 FROM RESULTS WHERE ID = old.resultID ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) SELECT coalesce(RequestID, ''), coalesce(substr(TransDate, 1, 10), '-'), 1 FROM RESULTS WHERE ID = new.resultID ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS RESULT_VALUES_revision_delete AFTER DELETE ON RESULT_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) SELECT coalesce(RequestID, ''), coalesce(substr(TransDate, 1, 10), '-'), 1 FROM RESULTS WHERE ID = old.resultID ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS VET_PROFILE_NORMAL_VALUES_revision_insert AFTER INSERT ON VET_PROFILE_NORMAL_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS VET_PROFILE_NORMAL_VALUES_revision_update AFTER UPDATE ON VET_PROFILE_NORMAL_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS VET_PROFILE_NORMAL_VALUES_revision_delete AFTER DELETE ON VET_PROFILE_NORMAL_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS CRITICAL_VALUES_revision_insert AFTER INSERT ON CRITICAL_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS CRITICAL_VALUES_revision_update AFTER UPDATE ON CRITICAL_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS CRITICAL_VALUES_revision_delete AFTER DELETE ON CRITICAL_VALUES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS PARAMETERS_revision_insert AFTER INSERT ON PARAMETERS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS PARAMETERS_revision_update AFTER UPDATE ON PARAMETERS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS PARAMETERS_revision_delete AFTER DELETE ON PARAMETERS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS ANALYSERS_revision_insert AFTER INSERT ON ANALYSERS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS ANALYSERS_revision_update AFTER UPDATE ON ANALYSERS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS ANALYSERS_revision_delete AFTER DELETE ON ANALYSERS
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS VET_PROFILES_revision_insert AFTER INSERT ON VET_PROFILES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS VET_PROFILES_revision_update AFTER UPDATE ON VET_PROFILES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
CREATE TRIGGER IF NOT EXISTS VET_PROFILES_revision_delete AFTER DELETE ON VET_PROFILES
BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = revision + 1; END;
-- The counters only grow, and stay: a lower one would make an old validation look current.
CREATE TRIGGER IF NOT EXISTS CONTENT_REVISIONS_only_grow BEFORE UPDATE ON CONTENT_REVISIONS WHEN new.revision <= old.revision
BEGIN SELECT RAISE(ABORT, 'the content revisions only grow'); END;
CREATE TRIGGER IF NOT EXISTS CONTENT_REVISIONS_no_delete BEFORE DELETE ON CONTENT_REVISIONS
BEGIN SELECT RAISE(ABORT, 'the content revisions only grow'); END;

-- The list reads the validations and the revisions of the days it shows.
CREATE INDEX IF NOT EXISTS IX_BULLETIN_VALIDATION_day ON BULLETIN_VALIDATION (TransDay, RequestID);
CREATE INDEX IF NOT EXISTS IX_CONTENT_REVISIONS_day ON CONTENT_REVISIONS (TransDay, RequestID);

-- The query planner's statistics, so that it weighs the indexes above by the real data.
ANALYZE;
