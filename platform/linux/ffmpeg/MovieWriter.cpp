// Built in the next step.
