-- Behaviour of KingbaseES that the migration's fixed SQL relies on, reproduced on PostgreSQL.
-- Installed into template1 of both stand-in clusters, so every database created later has it.

-- KingbaseES folds quoted upper-case names too: CREATE TABLE "DBO"."B01REPORT"("DURATIONID" ...)
-- must afterwards be reachable as B01REPORT / DURATIONID unquoted. After every CREATE TABLE the
-- table, its columns and its constraints get lower-case names.
CREATE OR REPLACE FUNCTION public.kb_fold_created_names() RETURNS event_trigger
LANGUAGE plpgsql SET search_path = pg_catalog AS $$
DECLARE
  cmd record;
  col record;
  con record;
  sch name;
  tbl name;
BEGIN
  FOR cmd IN SELECT objid FROM pg_event_trigger_ddl_commands()
             WHERE command_tag = 'CREATE TABLE' AND object_type = 'table' LOOP
    SELECT n.nspname, c.relname INTO sch, tbl
      FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE c.oid = cmd.objid;
    IF NOT FOUND THEN CONTINUE; END IF;
    FOR col IN SELECT attname FROM pg_attribute
               WHERE attrelid = cmd.objid AND attnum > 0 AND NOT attisdropped AND attname <> lower(attname) LOOP
      EXECUTE format('ALTER TABLE %I.%I RENAME COLUMN %I TO %I', sch, tbl, col.attname, lower(col.attname));
    END LOOP;
    FOR con IN SELECT conname FROM pg_constraint
               WHERE conrelid = cmd.objid AND conname <> lower(conname) LOOP
      EXECUTE format('ALTER TABLE %I.%I RENAME CONSTRAINT %I TO %I', sch, tbl, con.conname, lower(con.conname));
    END LOOP;
    IF tbl <> lower(tbl) THEN
      EXECUTE format('ALTER TABLE %I.%I RENAME TO %I', sch, tbl, lower(tbl));
    END IF;
  END LOOP;
END
$$;

DROP EVENT TRIGGER IF EXISTS kb_fold_created_names;
CREATE EVENT TRIGGER kb_fold_created_names ON ddl_command_end
  WHEN TAG IN ('CREATE TABLE')
  EXECUTE FUNCTION public.kb_fold_created_names();

-- KingbaseES has a one-argument to_timestamp(text); an empty text gives NULL.
CREATE OR REPLACE FUNCTION public.to_timestamp(text) RETURNS timestamp
LANGUAGE sql STABLE AS $$
  SELECT CASE WHEN btrim($1) = '' THEN NULL ELSE $1::timestamp END
$$;
