# The hidden-target bit (8192), which wixl does not write: the installer then does not log the deferred actions' data.
UPDATE CustomAction SET Type = 11265 WHERE Action = 'HiddenRun'
UPDATE CustomAction SET Type = 11329 WHERE Action = 'HiddenRename'
