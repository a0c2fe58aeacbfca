-- Labrosa results database, PostgreSQL flavour: the same tables, view and indexes as the
-- SQLite schema; identifiers are unquoted (folded to lower case) except "order".
-- Statements are separated by a semicolon at the end of a line; the tool splits on it.

CREATE TABLE VET_PROFILES (
    id INTEGER PRIMARY KEY,
    profileName VARCHAR(79) NOT NULL
);

-- profileID carries no foreign key: the laboratory's data may name a profile that is gone,
-- and the program shows such a set with an empty profile.
CREATE TABLE RESULTS (
    ID SERIAL PRIMARY KEY,
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
    id SERIAL PRIMARY KEY,
    resultID INTEGER NOT NULL REFERENCES RESULTS (ID) ON DELETE CASCADE,
    MachineID INTEGER NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    stringvalue VARCHAR(100) NOT NULL
);

-- A NULL sex applies to either sex.
CREATE TABLE VET_PROFILE_NORMAL_VALUES (
    id SERIAL PRIMARY KEY,
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

-- Indexes. The tool makes them after the demo rows, and `labrosa-dbtool --upgrade` applies
-- them to an existing database: each statement here is safe to run again.

-- The search lists a range of days ordered by day and request: this index gives both.
CREATE INDEX IF NOT EXISTS IX_RESULTS_TransDate_RequestID ON RESULTS (TransDate, RequestID);
-- The index above serves every use of the older one on the day alone.
DROP INDEX IF EXISTS IX_RESULTS_TransDate;
CREATE INDEX IF NOT EXISTS IX_RESULTS_RequestID ON RESULTS (RequestID);
-- The request identifier is searched by its leading number, in exactly this expression.
CREATE INDEX IF NOT EXISTS IX_RESULTS_RequestNumber ON RESULTS
    ((COALESCE(CAST(substring(RequestID from '^\s*[+-]{0,1}[0-9]+') AS numeric), 0)));
CREATE INDEX IF NOT EXISTS IX_RESULT_VALUES_resultID ON RESULT_VALUES (resultID);
CREATE INDEX IF NOT EXISTS IX_NORMAL_VALUES_profile_code ON VET_PROFILE_NORMAL_VALUES (profileID, refcode);

-- A name part is searched in the name folded exactly like this; pg_trgm's trigram index on
-- the same expression finds it without reading every row. pg_trgm comes with the server's
-- contrib package: the tool runs these two only when the server offers it.
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX IF NOT EXISTS IX_RESULTS_PacientName_trgm ON RESULTS
    USING gin (translate(lower(PacientName), 'ăâîșşțţ', 'aaisstt') gin_trgm_ops);

-- A patient's earlier sets are found by the name folded like the search's with its blanks taken
-- out, in exactly this expression (the capitals too: in the C locale lower() changes ASCII
-- letters only); the program then checks the name exactly.
CREATE INDEX IF NOT EXISTS IX_RESULTS_PatientKey ON RESULTS
    ((translate(lower(PacientName), 'ăâîșşțţĂÂÎȘŞȚŢ ', 'aaissttaaisstt')), profileID, TransDate);

-- Every change of a set or of its values counts on its bulletin's revision, and every change of
-- what the bulletins show beside the values on the row ('', ''), whoever makes it: the list's
-- validated mark relies on them (see CONTENT_REVISIONS). The functions run with their owner's
-- rights, so that a writer of the result tables needs none on the counters.
CREATE OR REPLACE FUNCTION labrosa_count_set_change() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public AS $$ BEGIN IF TG_OP <> 'INSERT' THEN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES (coalesce(OLD.RequestID, ''), coalesce(to_char(OLD.TransDate, 'YYYY-MM-DD'), '-'), 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = CONTENT_REVISIONS.revision + 1; END IF; IF TG_OP <> 'DELETE' THEN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES (coalesce(NEW.RequestID, ''), coalesce(to_char(NEW.TransDate, 'YYYY-MM-DD'), '-'), 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = CONTENT_REVISIONS.revision + 1; END IF; RETURN NULL; END $$;
CREATE OR REPLACE FUNCTION labrosa_count_value_change() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public AS $$ BEGIN IF TG_OP <> 'INSERT' THEN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) SELECT coalesce(RequestID, ''), coalesce(to_char(TransDate, 'YYYY-MM-DD'), '-'), 1 FROM RESULTS WHERE ID = OLD.resultID ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = CONTENT_REVISIONS.revision + 1; END IF; IF TG_OP <> 'DELETE' THEN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) SELECT coalesce(RequestID, ''), coalesce(to_char(TransDate, 'YYYY-MM-DD'), '-'), 1 FROM RESULTS WHERE ID = NEW.resultID ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = CONTENT_REVISIONS.revision + 1; END IF; RETURN NULL; END $$;
CREATE OR REPLACE FUNCTION labrosa_count_reference_change() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public AS $$ BEGIN INSERT INTO CONTENT_REVISIONS (RequestID, TransDay, revision) VALUES ('', '', 1) ON CONFLICT (RequestID, TransDay) DO UPDATE SET revision = CONTENT_REVISIONS.revision + 1; RETURN NULL; END $$;
CREATE OR REPLACE TRIGGER RESULTS_revision AFTER INSERT OR UPDATE OR DELETE ON RESULTS FOR EACH ROW EXECUTE FUNCTION labrosa_count_set_change();
CREATE OR REPLACE TRIGGER RESULT_VALUES_revision AFTER INSERT OR UPDATE OR DELETE ON RESULT_VALUES FOR EACH ROW EXECUTE FUNCTION labrosa_count_value_change();
CREATE OR REPLACE TRIGGER VET_PROFILE_NORMAL_VALUES_revision AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON VET_PROFILE_NORMAL_VALUES FOR EACH STATEMENT EXECUTE FUNCTION labrosa_count_reference_change();
CREATE OR REPLACE TRIGGER CRITICAL_VALUES_revision AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON CRITICAL_VALUES FOR EACH STATEMENT EXECUTE FUNCTION labrosa_count_reference_change();
CREATE OR REPLACE TRIGGER PARAMETERS_revision AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON PARAMETERS FOR EACH STATEMENT EXECUTE FUNCTION labrosa_count_reference_change();
CREATE OR REPLACE TRIGGER ANALYSERS_revision AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON ANALYSERS FOR EACH STATEMENT EXECUTE FUNCTION labrosa_count_reference_change();
CREATE OR REPLACE TRIGGER VET_PROFILES_revision AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON VET_PROFILES FOR EACH STATEMENT EXECUTE FUNCTION labrosa_count_reference_change();
-- A TRUNCATE of the result tables fires no row trigger; every bulletin then counts as changed.
CREATE OR REPLACE TRIGGER RESULTS_revision_truncate AFTER TRUNCATE ON RESULTS FOR EACH STATEMENT EXECUTE FUNCTION labrosa_count_reference_change();
CREATE OR REPLACE TRIGGER RESULT_VALUES_revision_truncate AFTER TRUNCATE ON RESULT_VALUES FOR EACH STATEMENT EXECUTE FUNCTION labrosa_count_reference_change();
-- The counters only grow, and stay: a lower one would make an old validation look current.
CREATE OR REPLACE FUNCTION labrosa_revisions_only_grow() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF TG_OP = 'UPDATE' AND NEW.revision > OLD.revision THEN RETURN NEW; END IF; RAISE EXCEPTION 'the content revisions only grow'; END $$;
CREATE OR REPLACE TRIGGER CONTENT_REVISIONS_only_grow BEFORE UPDATE OR DELETE ON CONTENT_REVISIONS FOR EACH ROW EXECUTE FUNCTION labrosa_revisions_only_grow();

-- The list reads the validations and the revisions of the days it shows.
CREATE INDEX IF NOT EXISTS IX_BULLETIN_VALIDATION_day ON BULLETIN_VALIDATION (TransDay, RequestID);
CREATE INDEX IF NOT EXISTS IX_CONTENT_REVISIONS_day ON CONTENT_REVISIONS (TransDay, RequestID);

-- The query planner's statistics, so that it weighs the indexes above by the real data.
ANALYZE RESULTS;
